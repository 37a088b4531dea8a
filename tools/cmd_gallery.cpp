#include "cmd_gallery.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "gallery.h"
#include "png_io.h"

namespace zantrel {

const char kGalleryUsage[] =
    "Usage: zantrel gallery DIR\n"
    "\n"
    "Renders one picture per scene of the gallery from built-in inputs, each\n"
    "through the library's exports, and writes into DIR (created if missing):\n"
    "  SCENE.png       the picture: the scene's layers side by side\n"
    "  index.html      every picture beside the calls that made it\n"
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

void WriteEntry(std::ostream &html, const gallery::Rendered &r) {
    const gallery::Scene &scene = *r.scene;
    html << "<section id=\"" << scene.name << "\">\n<h2>" << Escape(scene.title) << "</h2>\n<p>"
         << Escape(scene.about) << "</p>\n<div class=\"row\">\n<figure><img src=\"" << scene.name
         << ".png\" width=\"" << r.picture.width << "\" height=\"" << r.picture.height << "\" alt=\""
         << Escape(scene.title) << "\">\n<figcaption>Left to right:<ol>";
    for (const std::string &caption : r.captions) html << "<li>" << Escape(caption) << "</li>";
    html << "</ol></figcaption></figure>\n<pre>";
    for (const std::string &call : r.calls) html << Escape(call) << ";\n";
    html << "</pre>\n</div>\n</section>\n";
}

bool WriteIndex(const std::string &path, const std::vector<gallery::Rendered> &pictures) {
    std::ofstream html(path, std::ios::binary);
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<title>ZantrelLayer gallery</title>\n<style>\n"
            "body { font-family: sans-serif; margin: 2em; }\n"
            ".row { display: flex; gap: 2em; align-items: flex-start; flex-wrap: wrap; }\n"
            "img { image-rendering: pixelated; background: repeating-conic-gradient(#ccc 0 25%, #fff 0 50%) "
            "0 0 / 16px 16px; }\n"
            "pre { background: #f4f4f4; padding: 0.8em; }\n"
            "</style>\n</head>\n<body>\n<h1>ZantrelLayer gallery</h1>\n"
            "<p>Each picture was rendered by <code>zantrel gallery</code> with the calls shown beside it; the "
            "checkerboard shows through transparent pixels.</p>\n<ul>\n";
    for (const auto &r : pictures)
        html << "<li><a href=\"#" << r.scene->name << "\">" << Escape(r.scene->title) << "</a></li>\n";
    html << "</ul>\n";
    for (const auto &r : pictures) WriteEntry(html, r);
    html << "</body>\n</html>\n";
    html.close();
    return static_cast<bool>(html);
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
    std::ofstream sums(dir + "/checksums.txt", std::ios::binary);
    sums << checksums.str();
    sums.close();
    if (!sums || !WriteIndex(dir + "/index.html", pictures)) {
        std::cerr << "zantrel: " << dir << ": cannot write the index or the checksums\n";
        return 1;
    }
    std::cout << dir << "/index.html\n";
    return 0;
}

}  // namespace zantrel
