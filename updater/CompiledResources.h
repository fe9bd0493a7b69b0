#pragma once

#include <cstddef>

// The resources compiled into the program by the resource generator.
namespace vrexa::updater::compiled {

struct String {
    int id;
    const char* text;
    std::size_t size;
};

// A file's bytes by id: a message catalog, an icon.
struct Catalog {
    int id;
    const unsigned char* bytes;
    std::size_t size;
};

extern const String kStrings[];
extern const std::size_t kStringCount;
extern const Catalog kCatalogs[];
extern const std::size_t kCatalogsCount;
extern const Catalog kIcons[];
extern const std::size_t kIconsCount;

}  // namespace vrexa::updater::compiled
