// Turns a parsed script program into a setup payload and runs the script
// check on it, as the engine will before it starts.
#pragma once

#include "bootstrap/payload.h"
#include "build/script_source.h"

namespace kyt::build {

// Command identifiers: braced GUIDs derived from the project GUID and the
// command's position, so that the same sources always build the same bytes.
Text command_identifier(TextView project_guid, size_t index);

// The header of an "Install Files" command: 8 upper-case hexadecimal digits
// derived from the project GUID, the command's position and `attempt` (the
// caller counts it up until the header is unique within the build).
Text files_header(TextView project_guid, size_t index, int attempt);

// Fills `payload`; errors and warnings go to `diagnostics`. False on error.
bool compile_program(const SourceProgram& program, Payload& payload, std::vector<Diagnostic>& diagnostics,
                     const std::string& main_script);

// The setup: the engine's image (anything behind it dropped) followed by the
// payload text.
bool attach_payload(std::string_view engine, std::string_view payload_text, std::string& setup, std::string& error);

}  // namespace kyt::build
