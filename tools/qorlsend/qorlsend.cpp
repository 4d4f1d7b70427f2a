// QorlSend MESSAGE: sends one status message to the server, in the ANSI code
// page, as the printer software would. Exit code 0 when it was written.
#include <stdio.h>

#include "pipe_client.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fputs("usage: QorlSend MESSAGE   (for example paper_LabelPrinter1, or exit)\n", stderr);
        return 2;
    }
    char message[1024];
    int length = WideCharToMultiByte(CP_ACP, 0, argv[1], -1, message, sizeof(message), NULL, NULL);
    if (length == 0) {
        fputs("QorlSend: the message is too long\n", stderr);
        return 2;
    }
    SendResult result = SendPipeMessage(message, static_cast<DWORD>(length - 1), NULL);
    if (result != Sent) {
        fprintf(stderr, "QorlSend: %s\n", SendResultText(result));
        return 1;
    }
    return 0;
}
