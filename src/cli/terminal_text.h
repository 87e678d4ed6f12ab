// Text from a backup made safe to print on a terminal.
//
// Names, texts and paths of a backup can hold any byte. Printed raw, an ESC, BEL, BS or CR
// lets a hostile backup move the cursor, rewrite earlier lines or change the terminal's
// settings. terminalSafe() shows every control character as an escape instead: C0 controls
// and DEL as "\xNN", C1 controls (U+0080 to U+009F, which some terminals obey too) as
// "\u00NN", and each byte that is not part of valid UTF-8 as "\xNN". Everything else,
// including all printable UTF-8, passes unchanged. JSON output needs none of this: its
// writer escapes control characters itself.
#pragma once

#include <string>
#include <string_view>

std::string terminalSafe(std::string_view text);
