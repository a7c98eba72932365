#pragma once

#include <span>
#include <string_view>

namespace vitrine {

// A file built into the program by the build's embedding step, under its path relative to the
// folder it was taken from ("Main.layout.json", "pictures/BGMortier.png").
struct EmbeddedFile {
    std::string_view name;
    std::string_view bytes;
};

// The layout files of app/.
std::span<const EmbeddedFile> embeddedLayouts();
// The page of app/web/ and its pictures; only in programs that serve the page.
std::span<const EmbeddedFile> embeddedWebFiles();

}  // namespace vitrine
