#include "launcher/embedded_resources.h"

#include <array>

// The interface files, linked in byte for byte (MUVRA_UI_FOLDER is set by the build).
#define MUVRA_EMBED(symbol, file)                 \
  asm(".section .rodata\n"                        \
      ".balign 16\n"                              \
      ".global " #symbol "_start\n" #symbol       \
      "_start:\n"                                 \
      ".incbin \"" MUVRA_UI_FOLDER "/" file       \
      "\"\n"                                      \
      ".global " #symbol "_end\n" #symbol         \
      "_end:\n"                                   \
      ".previous\n");                             \
  extern "C" const std::uint8_t symbol##_start[]; \
  extern "C" const std::uint8_t symbol##_end[];

MUVRA_EMBED(muvra_ui_index_html, "index.html")
MUVRA_EMBED(muvra_ui_loader_html, "loader.html")
MUVRA_EMBED(muvra_ui_styles_css, "styles.css")
MUVRA_EMBED(muvra_ui_loader_css, "loader.css")
MUVRA_EMBED(muvra_ui_app_js, "app.js")
MUVRA_EMBED(muvra_ui_loader_js, "loader.js")
MUVRA_EMBED(muvra_ui_version_js, "version.js")
MUVRA_EMBED(muvra_ui_mm2_png, "images/mm2.png")
MUVRA_EMBED(muvra_ui_bloom_png, "images/bloom.png")

namespace muvra {

namespace {

struct Embedded {
  int id;
  const std::uint8_t* start;
  const std::uint8_t* end;
};

const std::array<Embedded, 9> kEmbedded = {{
    {201, muvra_ui_index_html_start, muvra_ui_index_html_end},
    {203, muvra_ui_loader_html_start, muvra_ui_loader_html_end},
    {204, muvra_ui_styles_css_start, muvra_ui_styles_css_end},
    {205, muvra_ui_loader_css_start, muvra_ui_loader_css_end},
    {206, muvra_ui_app_js_start, muvra_ui_app_js_end},
    {208, muvra_ui_loader_js_start, muvra_ui_loader_js_end},
    {209, muvra_ui_version_js_start, muvra_ui_version_js_end},
    {210, muvra_ui_mm2_png_start, muvra_ui_mm2_png_end},
    {211, muvra_ui_bloom_png_start, muvra_ui_bloom_png_end},
}};

}  // namespace

std::optional<std::span<const std::uint8_t>> embeddedResource(int id) {
  for (const Embedded& file : kEmbedded) {
    if (file.id == id) {
      return std::span(file.start, file.end);
    }
  }
  return std::nullopt;
}

}  // namespace muvra
