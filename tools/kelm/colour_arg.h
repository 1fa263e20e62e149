// Colours as the tool's users write them: #RRGGBB, #RGB, a basic colour name,
// or the library's colour word 0x00BBGGRR.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kelm3.h"

namespace kelm_cli {

// The colour word (red in bits 0-7) for a colour argument; nullopt with a
// message that says what is accepted, and for a bare hex number such as
// "ff0000" how to write the colour that was probably meant.
std::optional<DWORD> parse_colour(std::string_view s, std::string* error);

// The accepted forms, for help texts and error messages.
extern const char* const kColourForms;

}  // namespace kelm_cli
