#include "service/plant_files.h"

#include "service/file_names.h"

namespace orvanta {

std::string plantFile(const std::string& base, PlantPath path) {
    return findFileIgnoringCase(base + std::string(path.below_));
}

}  // namespace orvanta
