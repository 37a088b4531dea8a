#include "cmd_gallery.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>
#include <utility>

#include "gallery.h"
#include "output_file.h"
#include "png_io.h"

namespace zantrel {

const char kGalleryUsage[] =
    "Usage: zantrel gallery DIR\n"
    "\n"
    "Renders one picture per scene of the gallery from built-in inputs, each\n"
    "through the library's exports, and writes into DIR (created if missing):\n"
    "  SCENE.png       the picture: the scene's layers side by side\n"
    "  index.html      every picture, enlarged where small, above the calls that\n"
    "                  made it\n"
    "  checksums.txt   the pictures' checksums, in the form the tests keep in\n"
    "                  tests/gallery/checksums.txt\n"
    "\n"
    "Options:\n"
    "  -h, --help      show this help\n";

namespace {

int GalleryUsageError(const std::string &message) {
    std::cerr << "zantrel gallery: " << message << " (try 'zantrel gallery --help')\n";
    return 2;
}

std::string Escape(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Pictures are shown enlarged by a whole factor, so that every pixel stays a
// crisp square: up to kWideWidth on a window of kWideWindow or more, up to
// kNarrowWidth on one of 800 pixels; smaller windows shrink them to fit.
constexpr int32_t kWideWidth = 1240;
constexpr int32_t kWideWindow = 1340;
constexpr int32_t kNarrowWidth = 720;
constexpr int32_t kMaxZoom = 3;

int32_t Zoom(int32_t width, int32_t room) {
    int32_t zoom = width > 0 ? room / width : 1;
    return zoom < 1 ? 1 : zoom > kMaxZoom ? kMaxZoom : zoom;
}

void WriteEntry(std::ostream &html, const gallery::Rendered &r) {
    const gallery::Scene &scene = *r.scene;
    html << "<section id=\"" << scene.name << "\">\n<h2>" << Escape(scene.title) << "</h2>\n<p>"
         << Escape(scene.about) << "</p>\n<figure><img src=\"" << scene.name << ".png\" width=\""
         << r.picture.width << "\" height=\"" << r.picture.height << "\" style=\"--w: " << r.picture.width
         << "px; --wide: " << Zoom(r.picture.width, kWideWidth) << "; --narrow: "
         << Zoom(r.picture.width, kNarrowWidth) << "\" alt=\"" << Escape(scene.title) << "\">\n<figcaption>"
         << r.picture.width << " x " << r.picture.height << " pixels";
    html << ". Left to right:<ol>";
    for (const std::string &caption : r.captions) html << "<li>" << Escape(caption) << "</li>";
    html << "</ol></figcaption></figure>\n<pre>";
    for (const std::string &call : r.calls) html << Escape(call) << ";\n";
    html << "</pre>\n</section>\n";
}

// Each entry is its picture, then the code that made it, at every window
// width. Long code lines scroll inside their box rather than widen the page.
std::string IndexPage(const std::vector<gallery::Rendered> &pictures) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>ZantrelLayer gallery</title>\n<style>\n"
            "body { font-family: sans-serif; margin: 0; padding: 1em 2em; }\n"
            "figure { margin: 0 0 1em 0; }\n"
            "img { display: block; --zoom: var(--narrow); width: calc(var(--w) * var(--zoom)); height: auto; "
            "max-width: 100%; image-rendering: pixelated; "
            "background: repeating-conic-gradient(#ccc 0 25%, #fff 0 50%) 0 0 / 16px 16px; }\n"
            "@media (min-width: " << kWideWindow << "px) { img { --zoom: var(--wide); } }\n"
            "figcaption { margin-top: 0.5em; }\n"
            "pre { margin: 0; background: #f4f4f4; padding: 0.8em; overflow-x: auto; }\n"
            "section { margin-bottom: 3em; }\n"
            "</style>\n</head>\n<body>\n<h1>ZantrelLayer gallery</h1>\n"
            "<p>Each picture was rendered by <code>zantrel gallery</code> with the calls shown under it; the "
            "checkerboard shows through transparent pixels.</p>\n<ul>\n";
    for (const auto &r : pictures)
        html << "<li><a href=\"#" << r.scene->name << "\">" << Escape(r.scene->title) << "</a></li>\n";
    html << "</ul>\n";
    for (const auto &r : pictures) WriteEntry(html, r);
    html << "</body>\n</html>\n";
    return html.str();
}

bool WriteText(const std::string &path, const std::string &text, std::string &reason) {
    return WriteOutputFile(
        path,
        [&](std::FILE *file, std::string &why) {
            if (std::fwrite(text.data(), 1, text.size(), file) == text.size()) return true;
            why = std::string("cannot write (") + std::strerror(errno) + ")";
            return false;
        },
        reason);
}

}  // namespace

int RunGallery(const std::vector<std::string> &args) {
    std::string dir;
    for (const std::string &arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << kGalleryUsage;
            return 0;
        }
    }
    for (const std::string &arg : args) {
        if (!arg.empty() && arg[0] == '-') return GalleryUsageError("unknown option '" + arg + "'");
        if (!dir.empty()) return GalleryUsageError("unexpected argument '" + arg + "'");
        dir = arg;
    }
    if (dir.empty()) return GalleryUsageError("missing DIR");
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::cerr << "zantrel: " << dir << ": cannot create (" << std::strerror(errno) << ")\n";
        return 1;
    }

    std::vector<gallery::Rendered> pictures;
    std::ostringstream checksums;
    checksums << gallery::kChecksumFileHeader;
    for (const gallery::Scene &scene : gallery::Scenes()) {
        gallery::Rendered rendered;
        std::string reason;
        if (!gallery::Render(scene, rendered, reason)) {
            std::cerr << "zantrel gallery: " << reason << '\n';
            return 1;
        }
        Image image;
        image.width = rendered.picture.width;
        image.height = rendered.picture.height;
        image.pixels = rendered.picture.pixels;
        std::string file = dir + "/" + scene.name + ".png";
        if (!WritePng(file, image, reason)) {
            std::cerr << "zantrel: " << file << ": " << reason << '\n';
            return 1;
        }
        checksums << gallery::ChecksumLine(scene.name, rendered.picture) << '\n';
        std::cout << file << '\n';
        pictures.push_back(std::move(rendered));
    }
    const std::pair<std::string, std::string> texts[] = {{dir + "/checksums.txt", checksums.str()},
                                                         {dir + "/index.html", IndexPage(pictures)}};
    for (const auto &text : texts) {
        std::string reason;
        if (!WriteText(text.first, text.second, reason)) {
            std::cerr << "zantrel: " << text.first << ": " << reason << '\n';
            return 1;
        }
    }
    std::cout << dir << "/index.html\n";
    return 0;
}

}  // namespace zantrel
