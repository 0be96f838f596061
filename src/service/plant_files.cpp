#include "service/plant_files.h"

#include "service/file_names.h"

namespace orvanta {

std::string plantFile(const std::string& base, std::string_view name) {
    return findFileIgnoringCase(base + std::string(name));
}

}  // namespace orvanta
