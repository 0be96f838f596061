// The three INI readers through which the start form and the main form read every setting. They only
// read, each call reads the file afresh, and a missing file, section or entry gives the reader's default.
#pragma once

#include <cstdint>
#include <string>

#include "ports/forms.h"

namespace orvanta {

// The service module's error hook: the INI readers and the second log writer hand their runtime errors
// here. It discards them; it exists so that those errors have one place to go.
void FehlerMelden(double number, const std::string& description, const std::string& source,
                  const std::string& procedure);

class IniAccess {
public:
    explicit IniAccess(MessageBoxes& messageBoxes);

    // At most 254 characters of the value; "" when missing. With report -1 an empty result is reported.
    std::string LoadIniString(const std::string& section, const std::string& entry, const std::string& file,
                              std::int16_t report);
    // The decimal integer at the start of the value, cut to 16 bits; -1 when missing, 0 when the value
    // does not begin with a number. With report -1 a result of -1 is reported.
    std::int16_t LoadIniInteger(const std::string& section, const std::string& entry, const std::string& file,
                                std::int16_t report);
    // -1 when the value is TRUE in any case, else 0. With report -1 a value other than TRUE or FALSE is
    // reported.
    std::int16_t LoadIniBoolean(const std::string& section, const std::string& entry, const std::string& file,
                                std::int16_t report);

private:
    void showNotFound(const std::string& section, const std::string& entry, const std::string& file,
                      const char* procedure);

    MessageBoxes& messageBoxes_;
};

}  // namespace orvanta
