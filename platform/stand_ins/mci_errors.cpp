#include "platform/core/text.h"
#include "platform/platform.h"
#include "platform/stand_ins/sequencer.h"

#include <string_view>

// The texts of the MCI errors the Linux side returns, as mciGetErrorStringA gives them: shared by
// the window program's MCI strings and the resident's stand-in, which answers every command with
// an error.

namespace platform {

namespace {

struct ErrorText {
    std::uint32_t error;
    std::string_view text;
};

constexpr ErrorText kErrorTexts[] = {
    {0, "The command was carried out."},
    {MCIERR_UNRECOGNIZED_KEYWORD, "The command contains a word the device does not understand."},
    {MCIERR_UNRECOGNIZED_COMMAND, "The command is not one that MCI knows."},
    {MCIERR_HARDWARE,
     "The audio device could not be used. Check that one is present and not held by another "
     "program."},
    {MCIERR_INVALID_DEVICE_NAME,
     "No device is open under that name. Open it first, or check the alias."},
    {MCIERR_OUT_OF_MEMORY, "There is not enough memory to carry out the command."},
    {MCIERR_MISSING_COMMAND_STRING, "The command is empty."},
    {MCIERR_MISSING_STRING_ARGUMENT, "A keyword of the command needs a value after it."},
    {MCIERR_MISSING_PARAMETER, "The command needs a parameter that was not given."},
    {MCIERR_UNSUPPORTED_FUNCTION, "The device cannot carry out that command."},
    {MCIERR_FILE_NOT_FOUND, "The file could not be found. Check its folder and name."},
    {MCIERR_DEVICE_NOT_READY, "The device is not ready yet. Try again shortly."},
    {MCIERR_CANNOT_USE_ALL, "\"all\" cannot stand for a device name in this command."},
    {MCIERR_EXTENSION_NOT_FOUND,
     "No device type is known for the file's extension. Name the type in the command."},
    {MCIERR_DUPLICATE_ALIAS, "That alias already names an open device."},
    {MCIERR_MISSING_DEVICE_NAME, "The command does not name a device."},
    {MCIERR_NO_CLOSING_QUOTE, "A quoted value in the command has no closing quotation mark."},
    {MCIERR_DUPLICATE_FLAGS, "A keyword appears more than once in the command."},
    {MCIERR_INVALID_FILE,
     "The file cannot be played by this device. It is damaged, holds no notes, or is in "
     "another format."},
    {MCIERR_NULL_PARAMETER_BLOCK, "No command was given."},
    {MCIERR_FILENAME_REQUIRED, "The command needs a file name."},
    {MCIERR_EXTRA_CHARACTERS, "There is text right after a closing quotation mark."},
    {MCIERR_DEVICE_NOT_INSTALLED, "That device type is not installed."},
    {MCIERR_SEQ_PORT_INUSE, "The MIDI output is in use by another tune. Close that one first."},
    {MCIERR_SEQ_NOMIDIPRESENT,
     "No MIDI synthesizer is available. Install a General MIDI sound font."},
    {MCIERR_FILE_READ, "The file could not be read."},
};

} // namespace

bool mciGetErrorStringA(std::uint32_t error, char* buffer, std::uint32_t length) {
    if (buffer == nullptr || length == 0) {
        return false;
    }
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.error == error) {
            core::CopyOut(entry.text, buffer, length);
            return true;
        }
    }
    core::CopyOut("", buffer, length);
    return false;
}

} // namespace platform
