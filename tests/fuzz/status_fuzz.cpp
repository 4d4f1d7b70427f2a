// libFuzzer target over message parsing and the command match, built for the
// host with the sanitizers. Every input is one pipe read (at most 256 bytes,
// in a zero-filled 256-byte buffer), parsed and dispatched under both code
// pages; the checks are what must hold for any bytes a client can send.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "../../status/command_table.h"
#include "../../status/status_message.h"

namespace {

#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) {                                                       \
            fprintf(stderr, "status_fuzz: check failed: %s (line %d, code page %u)\n", \
                    #condition, __LINE__, ShimCodePage);                           \
            abort();                                                              \
        }                                                                         \
    } while (0)

enum Call { Close, Exists, Write, Launch, Purge, Queue, StopWorker };

struct Record {
    Call call;
    bool noTitle;
    WCHAR text[TitleSize];
    WCHAR type[FieldSize];
    bool noPrinter;
};

const int MaxRecords = 16;
Record Records[MaxRecords];
int RecordCount;

Record* Add(Call call)
{
    CHECK(RecordCount < MaxRecords);
    Record* record = &Records[RecordCount++];
    memset(record, 0, sizeof(*record));
    record->call = call;
    return record;
}

void CopyText(WCHAR* to, size_t size, const WCHAR* from)
{
    CHECK(wcslen(from) < size);
    wcscpy(to, from);
}

void RecordClose(const WCHAR* title)
{
    Record* record = Add(Close);
    record->noTitle = title == NULL;
    if (title != NULL)
        CopyText(record->text, TitleSize, title);
}

bool RecordExists(const WCHAR* title)
{
    CopyText(Add(Exists)->text, TitleSize, title);
    return false;
}

void RecordWrite(const WCHAR* type, const WCHAR* printerName)
{
    Record* record = Add(Write);
    CopyText(record->type, FieldSize, type);
    record->noPrinter = printerName == NULL;
    if (printerName != NULL)
        CopyText(record->text, FieldSize, printerName);
}

void RecordLaunch() { Add(Launch); }
void RecordPurge(const WCHAR* printerName) { CopyText(Add(Purge)->text, FieldSize, printerName); }
void RecordQueue(const WCHAR* printerName) { CopyText(Add(Queue)->text, FieldSize, printerName); }
void RecordStop() { Add(StopWorker); }

const WCHAR Discovery[] = L"Discover new printer";

bool Terminated(const char* field, size_t size)
{
    return memchr(field, 0, size) != NULL;
}

bool InTable(const char* word)
{
    for (int row = 0; row < CommandTableSize; ++row) {
        if (strcmp(word, CommandTable[row].word) == 0)
            return true;
    }
    return false;
}

bool SameAsWord(const WCHAR* type, const char* word)
{
    size_t i = 0;
    for (; word[i] != 0; ++i) {
        if (type[i] != static_cast<unsigned char>(word[i]))
            return false;
    }
    return type[i] == 0;
}

void CheckParse(const char* bytes, DWORD count, const StatusMessage& message)
{
    CHECK(Terminated(message.command, FieldSize));
    CHECK(Terminated(message.argument, FieldSize));
    CHECK(wmemchr(message.printerName, 0, FieldSize) != NULL);
    CHECK(wmemchr(message.statusTitle, 0, TitleSize) != NULL);

    // The text ends at the first NUL; only its first underscore splits.
    size_t length = 0;
    while (length < count && bytes[length] != 0)
        ++length;
    const char* underscore = static_cast<const char*>(memchr(bytes, '_', length));
    size_t split = underscore != NULL ? static_cast<size_t>(underscore - bytes) : length;
    size_t argumentLength = underscore != NULL ? length - split - 1 : 0;
    bool lineBreak = underscore != NULL && (memchr(underscore + 1, '\r', argumentLength) != NULL ||
                                            memchr(underscore + 1, '\n', argumentLength) != NULL);
    bool fits = split < FieldSize && argumentLength < FieldSize && !lineBreak;
    CHECK(message.usable == fits);

    if (split < FieldSize) {
        CHECK(strlen(message.command) == split);
        CHECK(memcmp(message.command, bytes, split) == 0);
    } else {
        CHECK(message.command[0] == 0);
    }
    if (argumentLength < FieldSize && !lineBreak) {
        CHECK(strlen(message.argument) == argumentLength);
        CHECK(argumentLength == 0 || memcmp(message.argument, underscore + 1, argumentLength) == 0);
    } else {
        CHECK(message.argument[0] == 0);
    }

    size_t nameLength = wcslen(message.printerName);
    CHECK(nameLength <= strlen(message.argument));
    if (ShimCodePage == 1252)
        CHECK(nameLength == strlen(message.argument));

    WCHAR title[TitleSize];
    CHECK(nameLength + 6 < TitleSize);
    wcscpy(title, message.printerName);
    wcscat(title, L"  V1.4");
    CHECK(wcscmp(title, message.statusTitle) == 0);
}

// Whatever the bytes: "exit" alone stops; a refused message, or a word not in
// the table, does nothing; otherwise windows close before the report is
// written, the report precedes the launch, and the report names the word.
void CheckDispatch(const StatusMessage& message, DispatchResult result)
{
    bool exitWord = strcmp(message.command, "exit") == 0;
    CHECK((result == Stop) == exitWord);
    if (exitWord || !message.usable || !InTable(message.command)) {
        CHECK(RecordCount == 0);
        return;
    }
    CHECK(RecordCount <= 4);
    int lastClose = -1, write = -1, launch = -1;
    for (int i = 0; i < RecordCount; ++i) {
        const Record& record = Records[i];
        switch (record.call) {
        case Close:
            CHECK(!record.noTitle);
            CHECK(wcscmp(record.text, message.statusTitle) == 0 ||
                  wcscmp(record.text, Discovery) == 0);
            lastClose = i;
            break;
        case Exists:
            CHECK(wcscmp(record.text, Discovery) == 0);
            break;
        case Write:
            CHECK(write == -1);
            CHECK(SameAsWord(record.type, message.command));
            CHECK(record.noPrinter || wcscmp(record.text, message.printerName) == 0);
            write = i;
            break;
        case Launch:
            CHECK(launch == -1);
            launch = i;
            break;
        case Purge:
        case Queue:
            CHECK(wcscmp(record.text, message.printerName) == 0);
            break;
        case StopWorker:
            CHECK(false);
            break;
        }
    }
    CHECK((write == -1) == (launch == -1));
    CHECK(write == -1 || (lastClose < write && write < launch));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > MessageBufferSize)
        return 0;   // such a message fails the read and is never parsed
    // A heap copy of exactly the receive buffer's size: reading past it is caught.
    char* buffer = static_cast<char*>(calloc(MessageBufferSize, 1));
    if (size != 0)
        memcpy(buffer, data, size);

    StatusActions actions;
    actions.CloseStatusWindows = RecordClose;
    actions.StatusWindowExists = RecordExists;
    actions.WriteStatusReport = RecordWrite;
    actions.LaunchStatusBox = RecordLaunch;
    actions.PurgePrinterJobs = RecordPurge;
    actions.RequestQueueMode = RecordQueue;
    actions.StopQueueModeWorker = RecordStop;

    static const UINT CodePages[] = {1252, 936};
    for (size_t page = 0; page < sizeof(CodePages) / sizeof(CodePages[0]); ++page) {
        ShimCodePage = CodePages[page];
        StatusMessage* message = static_cast<StatusMessage*>(malloc(sizeof(StatusMessage)));
        memset(message, 0xA5, sizeof(*message));   // parsing must not rely on a clean record
        ParseStatusMessage(buffer, static_cast<DWORD>(size), message);
        CheckParse(buffer, static_cast<DWORD>(size), *message);

        RecordCount = 0;
        DispatchResult result = DispatchStatusCommand(*message, Discovery, actions);
        CheckDispatch(*message, result);
        free(message);
    }
    free(buffer);
    return 0;
}
