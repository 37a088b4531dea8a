// The gallery page as a browser shows it: headless Chromium loads the page
// written by `zantrel gallery` at 1400 and 800 pixels wide, and a script
// added to a copy of it writes what it measured into the page, which
// Chromium prints with --dump-dom.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "gallery.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using tooltest::Quote;
using tooltest::ReadText;

namespace {

// Reports broken images, elements reaching outside the window, pictures
// not enlarged by a whole factor (at least 2 on a wide window) and code not
// under its picture; then the window's width and the number of pictures.
const char kMeasure[] = R"(<script>
addEventListener('load', () => {
  const room = document.documentElement.clientWidth, out = [];
  for (const img of document.images) {
    const zoom = img.getBoundingClientRect().width / img.naturalWidth;
    if (!img.complete || !(zoom >= (innerWidth >= 1400 ? 2 : 1)) || zoom % 1) out.push(img.getAttribute('src') + ' zoom ' + zoom);
  }
  for (const e of document.body.querySelectorAll('*')) {
    const r = e.getBoundingClientRect();
    if (r.left < -0.5 || r.right > room + 0.5) out.push('wide ' + e.tagName + ' ' + r.left + '..' + r.right);
  }
  for (const s of document.querySelectorAll('section'))
    if (s.querySelector('pre').getBoundingClientRect().top < s.querySelector('figure').getBoundingClientRect().bottom)
      out.push('code not under the picture in ' + s.id);
  out.push('width ' + innerWidth + ', ' + document.images.length + ' pictures');
  const findings = document.createElement('pre');
  findings.id = 'findings';
  findings.textContent = out.join('; ');
  document.body.appendChild(findings);
});
</script>)";

class GalleryPage : public tooltest::ToolDirTest {};

TEST_F(GalleryPage, ShowsEveryPictureCrispWithItsCodeUnderItAndNothingWiderThanTheWindow) {
    if (std::system("command -v chromium >/dev/null") != 0)
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it): the gallery page "
                        "was not checked in a browser";
    const fs::path dir = dir_;
    ASSERT_EQ(Zantrel({"gallery", "pictures"}).exitCode, 0);
    std::string page = ReadText(dir / "pictures" / "index.html");
    size_t end = page.rfind("</body>");
    ASSERT_NE(end, std::string::npos);
    std::ofstream(dir / "pictures" / "check.html") << page.substr(0, end) << kMeasure << page.substr(end);
    for (int width : {1400, 800}) {
        std::string command = "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic"
                              " --no-first-run --disable-background-networking --disable-component-update"
                              " --disable-sync --user-data-dir=" + Quote((dir / ("profile" + std::to_string(width))).string()) +
                              " --window-size=" + std::to_string(width) + ",1000 --dump-dom " +
                              Quote("file://" + (dir / "pictures" / "check.html").string()) + " 2>/dev/null >" +
                              Quote((dir / "dom.html").string());
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::string dom = ReadText(dir / "dom.html");
        size_t start = dom.find("<pre id=\"findings\">");
        ASSERT_NE(start, std::string::npos) << "the page's script did not run";
        EXPECT_EQ(dom.substr(start + 19, dom.find("</pre>", start) - start - 19),
                  "width " + std::to_string(width) + ", " + std::to_string(zantrel::gallery::Scenes().size()) +
                      " pictures");
    }
}

}  // namespace
