#include "app/game_check_terminal.h"

#include "app/game_processes.h"
#include "update/message_table.h"

namespace {

// The first non-blank character of the next answer line, lower-cased; 0 at end of input.
char ReadAnswer(FILE* in) {
    char line[256];
    if (std::fgets(line, sizeof(line), in) == nullptr) return 0;
    for (char c : line) {
        if (c == '\0') break;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    return '\n';
}

}  // namespace

bool CheckGameRunningOnTerminal(const std::string& gamePath, FILE* in, FILE* out, bool interactive,
                                unsigned pollMs, const ProcessAccess& access) {
    if (FindGameProcesses(gamePath, access).empty()) return false;
    if (!interactive) {
        std::fprintf(out, "%s\n", GetMessageText(MessageId::kGameRunning));
        return true;
    }
    std::fprintf(out, "%s\n", GetMessageText(MessageId::kGameRunningPressOk));
    for (;;) {
        std::fprintf(out, "[w] wait for the game to end  [f] %s  [c] cancel: ",
                     GetMessageText(MessageId::kForceClose));
        std::fflush(out);
        switch (ReadAnswer(in)) {
            case 'w':
                // As the window's OK does, but until the game has gone: look every pause.
                std::fprintf(out, "...\n");
                std::fflush(out);
                WaitForGameToEnd(gamePath, pollMs, access);
                return false;
            case 'f':
                if (!ForceCloseGame(gamePath, access)) {
                    // Still there after the signal: the files stay untouched until it is gone.
                    std::fprintf(out, "...\n");
                    std::fflush(out);
                    WaitForGameToEnd(gamePath, pollMs, access);
                }
                return false;
            case 'c':
            case 0: {
                std::fprintf(out, "%s [y/n] ", GetMessageText(MessageId::kConfirmCancel));
                std::fflush(out);
                const char answer = ReadAnswer(in);
                if (answer == 'y' || answer == 0) return true;
                break;
            }
            default:
                break;
        }
    }
}
