// The gallery page as a browser shows it: headless Chromium loads the page
// written by `zantrel gallery` at 1400 and 800 pixels wide, and a script
// added to a copy of it writes what it measured into the page, which
// Chromium prints with --dump-dom.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gallery.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using tooltest::Quote;
using tooltest::ReadText;

namespace {

// Finds broken images, elements reaching outside the window, how far each
// picture is enlarged and whether each entry's code lies under its picture.
const char kMeasure[] = R"(<script>
addEventListener('load', () => {
  const room = document.documentElement.clientWidth, out = ['width ' + innerWidth];
  for (const img of document.images)
    out.push(img.complete && img.naturalWidth > 0
             ? 'zoom ' + img.getBoundingClientRect().width / img.naturalWidth + ' ' + img.getAttribute('src')
             : 'broken ' + img.getAttribute('src'));
  for (const e of document.body.querySelectorAll('*')) {
    const r = e.getBoundingClientRect();
    if (r.left < -0.5 || r.right > room + 0.5) out.push('wide ' + e.tagName + ' ' + r.left + '..' + r.right);
  }
  for (const s of document.querySelectorAll('section')) {
    const f = s.querySelector('figure').getBoundingClientRect(), p = s.querySelector('pre').getBoundingClientRect();
    out.push((p.top >= f.bottom - 0.5 ? 'under ' : 'not-under ') + s.id);
  }
  const findings = document.createElement('pre');
  findings.id = 'findings';
  findings.textContent = out.join('|');
  document.body.appendChild(findings);
});
</script>)";

std::string FindChromium() {
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && fs::exists(fs::path(dir) / "chromium")) return (fs::path(dir) / "chromium").string();
    return "";
}

class GalleryPage : public tooltest::ToolDirTest {};

TEST_F(GalleryPage, ShowsEveryPictureCrispWithItsCodeUnderItAndNothingWiderThanTheWindow) {
    const std::string chromium = FindChromium();
    if (chromium.empty())
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it): the gallery page "
                        "was not checked in a browser";
    ASSERT_EQ(Zantrel({"gallery", "pictures"}).exitCode, 0);
    std::string page = ReadText(dir_ / "pictures" / "index.html");
    size_t end = page.rfind("</body>");
    ASSERT_NE(end, std::string::npos);
    std::ofstream(dir_ / "pictures" / "check.html") << page.substr(0, end) << kMeasure << page.substr(end);

    for (int width : {1400, 800}) {
        SCOPED_TRACE(width);
        fs::path profile = root_ / ("profile-" + std::to_string(width)), dom = root_ / "dom.html";
        std::string command = "timeout 120 " + Quote(chromium) +
                              " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                              " --disable-background-networking --disable-component-update --disable-sync"
                              " --user-data-dir=" + Quote(profile.string()) + " --window-size=" +
                              std::to_string(width) + ",1000 --dump-dom " +
                              Quote("file://" + (dir_ / "pictures" / "check.html").string()) + " >" +
                              Quote(dom.string()) + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::string text = ReadText(dom);
        size_t start = text.find("<pre id=\"findings\">");
        ASSERT_NE(start, std::string::npos) << "the page's script did not run";
        std::stringstream findings(text.substr(start + 19, text.find("</pre>", start) - start - 19));
        size_t under = 0, pictures = 0;
        for (std::string line; std::getline(findings, line, '|');) {
            if (line.rfind("width ", 0) == 0) {
                EXPECT_EQ(line, "width " + std::to_string(width));
            } else if (line.rfind("under ", 0) == 0) {
                ++under;
            } else if (line.rfind("zoom ", 0) == 0) {
                // Whole factors keep the pixels square; on the wide window
                // every picture is enlarged.
                double zoom = std::atof(line.c_str() + 5);
                EXPECT_EQ(zoom, std::floor(zoom)) << line;
                EXPECT_GE(zoom, width >= 1400 ? 2 : 1) << line;
                ++pictures;
            } else {
                ADD_FAILURE() << line;  // broken, wide or not-under
            }
        }
        EXPECT_EQ(pictures, zantrel::gallery::Scenes().size());
        EXPECT_EQ(under, zantrel::gallery::Scenes().size());
    }
}

}  // namespace
