// QorlSend's texts: string resources in English (United States) and
// Chinese (PRC), one id each, in strings.rc and strings_zh.rc. Both
// languages hold the same ids, with the same format specifiers in the same
// order (wvsprintfW has no positional arguments).
#pragma once

#ifndef RC_INVOKED
#include <windows.h>

// Picks the language once, before anything is printed: Chinese where the
// user's display language is Chinese (PRC or Singapore), else English;
// QORLSEND_LANG=en asks for English whatever the display language.
void ChooseLanguage();

// The text of id in the language picked, in one of a few rotating buffers:
// valid until that many further calls. "" when the id has no text.
const WCHAR* Text(UINT id);
#endif

#define IDS_SEND_1 101
#define IDS_SEND_2 102
#define IDS_SEND_3 103
#define IDS_SEND_4 104
#define IDS_SEND_5 105
#define IDS_SEND_6 106
#define IDS_SEND_7 107
#define IDS_SEND_8 108
#define IDS_SEND_9 109
#define IDS_LABEL_OK 201
#define IDS_LABEL_INFO 202
#define IDS_CHECK_3 203
#define IDS_CHECK_4 204
#define IDS_CHECK_5 205
#define IDS_CHECK_6 206
#define IDS_CHECK_7 207
#define IDS_CHECK_8 208
#define IDS_CHECK_9 209
#define IDS_CHECK_10 210
#define IDS_CHECK_11 211
#define IDS_CHECK_12 212
#define IDS_CHECK_13 213
#define IDS_CHECK_14 214
#define IDS_CHECK_15 215
#define IDS_CHECK_16 216
#define IDS_CHECK_17 217
#define IDS_CHECK_18 218
#define IDS_CHECK_19 219
#define IDS_CHECK_20 220
#define IDS_CHECK_21 221
#define IDS_CHECK_22 222
#define IDS_CHECK_23 223
#define IDS_CHECK_24 224
#define IDS_CHECK_25 225
#define IDS_CHECK_26 226
#define IDS_CHECK_27 227
#define IDS_CHECK_28 228
#define IDS_CHECK_29 229
#define IDS_CHECK_30 230
#define IDS_CHECK_31 231
#define IDS_CHECK_32 232
#define IDS_CHECK_33 233
#define IDS_CHECK_34 234
#define IDS_CHECK_35 235
#define IDS_CHECK_36 236
#define IDS_CHECK_37 237
#define IDS_CHECK_38 238
#define IDS_CHECK_39 239
#define IDS_CHECK_40 240
#define IDS_CHECK_41 241
#define IDS_CHECK_42 242
#define IDS_CHECK_43 243
#define IDS_CHECK_44 244
#define IDS_CHECK_45 245
#define IDS_CHECK_46 246
#define IDS_CHECK_47 247
#define IDS_CHECK_48 248
#define IDS_CHECK_49 249
#define IDS_CHECK_50 250
#define IDS_EXPLAIN_1 401
#define IDS_EXPLAIN_2 402
#define IDS_EXPLAIN_3 403
#define IDS_EXPLAIN_4 404
#define IDS_EXPLAIN_5 405
#define IDS_EXPLAIN_6 406
#define IDS_EXPLAIN_7 407
#define IDS_EXPLAIN_8 408
#define IDS_EXPLAIN_9 409
#define IDS_EXPLAIN_10 410
#define IDS_EXPLAIN_11 411
#define IDS_EXPLAIN_12 412
#define IDS_EXPLAIN_13 413
#define IDS_EXPLAIN_14 414
#define IDS_EXPLAIN_15 415
#define IDS_EXPLAIN_16 416
#define IDS_EXPLAIN_17 417
#define IDS_EXPLAIN_18 418
#define IDS_EXPLAIN_19 419
#define IDS_EXPLAIN_20 420
#define IDS_EXPLAIN_21 421
#define IDS_EXPLAIN_22 422
#define IDS_EXPLAIN_23 423
#define IDS_EXPLAIN_24 424
#define IDS_EXPLAIN_25 425
#define IDS_EXPLAIN_26 426
#define IDS_EXPLAIN_27 427
#define IDS_EXPLAIN_28 428
#define IDS_EXPLAIN_29 429
#define IDS_EXPLAIN_30 430
#define IDS_EXPLAIN_31 431
#define IDS_EXPLAIN_32 432
#define IDS_EXPLAIN_33 433
#define IDS_EXPLAIN_34 434
#define IDS_EXPLAIN_35 435
#define IDS_EXPLAIN_36 436
#define IDS_EXPLAIN_37 437
#define IDS_EXPLAIN_38 438
#define IDS_EXPLAIN_39 439
#define IDS_EXPLAIN_40 440
#define IDS_EXPLAIN_41 441
#define IDS_LABEL_FAIL 300
#define IDS_NONE 301
#define IDS_RESULT_SENT 302
#define IDS_RESULT_NO_SERVER 303
#define IDS_RESULT_BUSY 304
#define IDS_RESULT_ACCESS_DENIED 305
#define IDS_RESULT_OPEN_FAILED 306
#define IDS_RESULT_WRITE_FAILED 307
#define IDS_RESULT_TOO_LONG 308
