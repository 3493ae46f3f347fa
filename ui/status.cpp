#include "ui/status.h"

#include <cctype>

std::string statusText;
int statusTimer = 0;

void showStatus(const std::string& text) {
    std::string upper;
    for (char c : text) {
        if (c == '\0') break;  // a message ends at its first NUL
        upper += char(std::toupper(static_cast<unsigned char>(c)));
    }
    statusText = upper;
    statusTimer = 500;
}
