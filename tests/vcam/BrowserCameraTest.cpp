// Debian's Chromium, headless, opens the bridge's PipeWire camera the way a person's browser
// does: through the desktop's camera portal, in a private session of its own (session bus,
// PipeWire, WirePlumber, the permission store, xdg-desktop-portal with a stand-in dialog
// backend), every process started here and stopped by its pid. The studio's side is played by
// StudioHdWriter at 1280 x 720 and 30 frames a second. The page asks for what call pages ask
// (ideal 1280 x 720 at 30), measures the picture on a canvas and reports to a small server of
// this test on 127.0.0.1.
#include "platform/contracts/HdFeedLayout.h"
#include "support/TestSupport.h"
#include "tools/kelocam-vcam/probe/BridgeProcess.h"
#include "tools/kelocam-vcam/probe/PipeWireSession.h"
#include "tools/kelocam-vcam/probe/StudioHdWriter.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kelo::vcam {
namespace {

using namespace std::chrono_literals;
using probe::BridgeProcess;
using probe::PipeWireSession;

// The page: opens the camera twice by its name, and for each opening reports the size, how
// long the first frame took, the colour at the middle of the four coloured quadrants of the
// test picture, and the stamp's counter read from two frames half a second apart.
constexpr const char* kPage = R"(<!doctype html>
<html><body><script>
const report = [];
function say(key, value) { report.push(key + '=' + value); }
function sample(video) {
  const w = video.videoWidth, h = video.videoHeight;
  const canvas = document.createElement('canvas');
  canvas.width = w; canvas.height = h;
  const g = canvas.getContext('2d', {willReadFrequently: true});
  g.drawImage(video, 0, 0);
  const px = (fx, fy) => Array.from(g.getImageData(Math.floor(fx * w), Math.floor(fy * h), 1, 1).data.slice(0, 3));
  // The stamp: 16 blocks in the top band, white = 1, the next band their complement.
  let counter = 0, valid = true;
  for (let i = 0; i < 16; ++i) {
    const fx = (20 * i + 10) / 320;
    const bit = px(fx, 10 / 240)[1] > 128 ? 1 : 0;
    const check = px(fx, 30 / 240)[1] > 128 ? 1 : 0;
    if (bit === check) valid = false;
    counter = counter * 2 + bit;
  }
  return {quadrants: [px(0.25, 90 / 240), px(0.75, 90 / 240), px(0.25, 190 / 240), px(0.75, 190 / 240)],
          counter: valid ? counter : -1};
}
async function open(id, n) {
  const stream = await navigator.mediaDevices.getUserMedia({video: {deviceId: {exact: id},
      width: {ideal: 1280}, height: {ideal: 720}, frameRate: {ideal: 30}}});
  const video = document.createElement('video');
  video.muted = true;
  video.srcObject = stream;
  const start = performance.now();
  const first = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no frame within 4 s')), 4000);
    video.requestVideoFrameCallback(() => { clearTimeout(timer); resolve(); });
  });
  await video.play();
  await first;
  // Chromium's capture process can abort while it starts a PipeWire capture (a race check in
  // its capture module); the video then shows a 2 x 2 placeholder instead of the camera.
  for (let i = 0; i < 20 && video.videoWidth <= 2; ++i) await new Promise(r => setTimeout(r, 100));
  if (video.videoWidth <= 2) {
    stream.getTracks().forEach(t => t.stop());
    throw new Error('the capture did not start (a ' + video.videoWidth + 'x' + video.videoHeight + ' placeholder)');
  }
  say('open' + n + '.firstFrameMs', Math.round(performance.now() - start));
  say('open' + n + '.size', video.videoWidth + 'x' + video.videoHeight);
  const a = sample(video);
  await new Promise(r => setTimeout(r, 500));
  const b = sample(video);
  say('open' + n + '.quadrants', a.quadrants.map(q => q.join(',')).join(';'));
  say('open' + n + '.counters', a.counter + ',' + b.counter);
  stream.getTracks().forEach(t => t.stop());
}
async function main() {
  try {
    // A browser just started may still be listing its cameras (the portal answers
    // asynchronously): a page loaded with it waits for the camera to be listed. The same
    // capture-process abort as below can fail this first request: it is asked again. It asks
    // what the openings ask: readers of a camera share one mode, and a link of this request
    // still being taken down would otherwise hand the first opening its size.
    let asked = null;
    for (let i = 0; !asked; ++i) {
      try {
        asked = await navigator.mediaDevices.getUserMedia({video: {width: {ideal: 1280},
            height: {ideal: 720}, frameRate: {ideal: 30}}});
      } catch (e) {
        if ((e.name !== 'NotFoundError' && e.name !== 'NotReadableError') || i >= 40) throw e;
        if (e.name === 'NotReadableError') say('permission.failure' + i, e);
        await new Promise(r => setTimeout(r, 250));
      }
    }
    asked.getTracks().forEach(t => t.stop());
    let cameras = [];
    let camera = null;
    for (let i = 0; !camera && i < 20; ++i) {
      if (i > 0) await new Promise(r => setTimeout(r, 250));
      cameras = (await navigator.mediaDevices.enumerateDevices()).filter(d => d.kind === 'videoinput');
      camera = cameras.find(d => d.label === 'Kelo Virtual Camera');
    }
    say('cameras', cameras.map(d => d.label).join('|'));
    if (!camera) throw new Error('no camera named Kelo Virtual Camera');
    for (let n = 1; n <= 2; ++n) {
      // An opening that Chromium's capture process failed is tried again (at most four
      // times); the report says how many it took and why the others failed.
      for (let attempt = 1; attempt <= 4; ++attempt) {
        try {
          await open(camera.deviceId, n);
          say('open' + n + '.attempts', attempt);
          break;
        } catch (e) {
          say('open' + n + '.failure' + attempt, e);
          if (attempt === 4) say('open' + n + '.error', e);
          else await new Promise(r => setTimeout(r, 500)); // the capture process restarts
        }
      }
    }
  } catch (e) {
    say('error', e);
  }
  await fetch('/result', {method: 'POST', body: report.join('\n') + '\n'});
}
main();
</script></body></html>
)";

// A one-thread HTTP server on 127.0.0.1 that serves the page and takes the page's report.
class PageServer {
public:
    PageServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener_, 16) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~PageServer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
    }
    int port() const { return port_; }

    // The page's report, once it came.
    std::optional<std::string> WaitForReport(std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, limit, [this] { return report_.has_value(); }))
            return std::nullopt;
        return report_;
    }

private:
    void Run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                Serve(client);
                close(client);
            }
        }
    }
    void Serve(int client) {
        std::string request;
        char chunk[4096];
        std::size_t bodyStart = std::string::npos;
        std::size_t bodyLength = 0;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{client, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = read(client, chunk, sizeof chunk);
            if (n <= 0)
                break;
            request.append(chunk, static_cast<std::size_t>(n));
            if (bodyStart == std::string::npos) {
                const std::size_t end = request.find("\r\n\r\n");
                if (end == std::string::npos)
                    continue;
                bodyStart = end + 4;
                const std::size_t field = request.find("Content-Length: ");
                if (field != std::string::npos && field < end)
                    bodyLength = std::stoul(request.substr(field + 16));
            }
            if (request.size() >= bodyStart + bodyLength)
                break;
        }
        std::string body = "ok";
        std::string type = "text/plain";
        if (request.rfind("GET / ", 0) == 0 || request.rfind("GET /?", 0) == 0) {
            body = kPage;
            type = "text/html";
        } else if (request.rfind("POST /result", 0) == 0 && bodyStart != std::string::npos) {
            std::lock_guard lock(mutex_);
            report_ = request.substr(bodyStart);
            arrived_.notify_all();
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: " + type +
                                   "\r\nContent-Length: " + std::to_string(body.size()) +
                                   "\r\nConnection: close\r\n\r\n" + body;
        (void)!write(client, answer.data(), answer.size());
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::optional<std::string> report_;
};

std::map<std::string, std::string> ParseReport(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

// "r,g,b;r,g,b;..." of the four quadrants: red, green, blue, white as the test picture has
// them upright (red top left, white bottom right).
bool QuadrantsUpright(const std::string& text) {
    int c[4][3] = {};
    if (std::sscanf(text.c_str(), "%d,%d,%d;%d,%d,%d;%d,%d,%d;%d,%d,%d", &c[0][0], &c[0][1],
                    &c[0][2], &c[1][0], &c[1][1], &c[1][2], &c[2][0], &c[2][1], &c[2][2], &c[3][0],
                    &c[3][1], &c[3][2]) != 12)
        return false;
    auto high = [](int v) { return v > 180; };
    auto low = [](int v) { return v < 80; };
    return high(c[0][0]) && low(c[0][1]) && low(c[0][2]) && // red
           low(c[1][0]) && high(c[1][1]) && low(c[1][2]) && // green
           low(c[2][0]) && low(c[2][1]) && high(c[2][2]) && // blue
           high(c[3][0]) && high(c[3][1]) && high(c[3][2]); // white
}

bool WaitForOutput(BridgeProcess& process, const std::string& text, std::chrono::seconds limit) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{process.stdoutFd(), POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char chunk[256];
            const ssize_t n = read(process.stdoutFd(), chunk, sizeof chunk);
            if (n <= 0)
                return false;
            seen.append(chunk, static_cast<std::size_t>(n));
            if (seen.find(text) != std::string::npos)
                return true;
        }
    }
    return false;
}

// Whether `name` has an owner on the session's bus (gdbus, from the bus's own tools).
bool BusNameOwned(const BridgeProcess::Environment& environment, const std::string& name) {
    BridgeProcess gdbus;
    const auto path = probe::FindProgram("gdbus");
    if (path.empty() || !gdbus.StartProgram(path,
                                            {"call", "--session", "--dest", "org.freedesktop.DBus",
                                             "--object-path", "/org/freedesktop/DBus", "--method",
                                             "org.freedesktop.DBus.NameHasOwner", name},
                                            environment))
        return false;
    return WaitForOutput(gdbus, "true", 5s);
}

TEST(BrowserCamera, APageGetsTheCameraByNameAtTheStudiosSizeUprightAndLiveTwice) {
    const auto chromium = probe::FindProgram("chromium");
    ASSERT_FALSE(chromium.empty()) << "chromium is missing (Debian package chromium)";
    const std::filesystem::path portal = "/usr/libexec/xdg-desktop-portal";
    const std::filesystem::path store = "/usr/libexec/xdg-permission-store";
    ASSERT_TRUE(std::filesystem::exists(portal) && std::filesystem::exists(store))
        << "xdg-desktop-portal is missing (Debian package xdg-desktop-portal)";

    test::ScopedFeedName feed;
    PipeWireSession session;
    session.WithoutBusActivation();
    ASSERT_TRUE(session.Start()) << session.error();

    // The session's desktop, "kelotest", has one portal backend: the stand-in for dialogs.
    const auto root = session.root();
    std::filesystem::create_directories(root / "portals");
    std::filesystem::create_directories(root / "data");
    std::filesystem::create_directories(root / "home");
    const std::string backendName = "org.freedesktop.impl.portal.desktop.kelotest";
    std::ofstream(root / "portals" / "kelotest.portal")
        << "[portal]\nDBusName=" << backendName
        << "\nInterfaces=org.freedesktop.impl.portal.Access;\nUseIn=kelotest\n";
    BridgeProcess::Environment environment = session.Environment();
    environment.push_back({"XDG_CURRENT_DESKTOP", "kelotest"});
    environment.push_back({"XDG_DESKTOP_PORTAL_DIR", (root / "portals").string()});
    environment.push_back({"XDG_DATA_HOME", (root / "data").string()});
    environment.push_back({"HOME", (root / "home").string()});

    BridgeProcess permissionStore;
    ASSERT_TRUE(permissionStore.StartProgram(store, {}, environment, root));
    BridgeProcess standIn;
    ASSERT_TRUE(standIn.StartProgram(KELO_PORTAL_STANDIN_PATH, {backendName}, environment, root));
    ASSERT_TRUE(WaitForOutput(standIn, "ready", 30s))
        << standIn.Stderr() << permissionStore.Stderr();
    BridgeProcess desktopPortal;
    ASSERT_TRUE(desktopPortal.StartProgram(portal, {}, environment, root));
    bool portalUp = false;
    for (int i = 0; i < 100 && !portalUp; ++i) {
        portalUp = BusNameOwned(environment, "org.freedesktop.portal.Desktop");
        if (!portalUp)
            std::this_thread::sleep_for(200ms);
    }
    ASSERT_TRUE(portalUp) << desktopPortal.Stderr();

    probe::StudioHdWriter studio(HdFeedObjectName(), 1280, 720, 30);
    ASSERT_TRUE(studio.Start());
    BridgeProcess bridge;
    ASSERT_TRUE(bridge.Start({"--pipewire"}, environment));
    const auto nodeDeadline = std::chrono::steady_clock::now() + 30s;
    while (session.ListNodes().find("kelo-vcam") == std::string::npos &&
           std::chrono::steady_clock::now() < nodeDeadline)
        std::this_thread::sleep_for(100ms);
    ASSERT_NE(session.ListNodes().find("kelo-vcam"), std::string::npos) << bridge.Stderr();

    PageServer server;
    ASSERT_GT(server.port(), 0);
    BridgeProcess browser;
    std::vector<std::string> args = {"--headless=new",
                                     "--use-fake-ui-for-media-stream",
                                     "--enable-features=WebRtcPipeWireCamera",
                                     "--user-data-dir=" + (root / "browser").string(),
                                     "--no-first-run",
                                     "--disable-gpu",
                                     "--autoplay-policy=no-user-gesture-required",
                                     "http://127.0.0.1:" + std::to_string(server.port()) + "/"};
    if (geteuid() == 0)
        args.insert(args.begin(), "--no-sandbox"); // Chromium refuses to run as root without
    ASSERT_TRUE(browser.StartProgram(chromium, args, environment, root));
    const auto report = server.WaitForReport(120s);
    browser.Stop();
    const std::string logs = "\nbridge: " + bridge.Stderr() +
                             "\nportal: " + desktopPortal.Stderr() +
                             "\nstand-in: " + standIn.Stderr() + "\nbrowser: " + browser.Stderr();
    bridge.Stop();
    studio.Stop();
    desktopPortal.Stop();
    standIn.Stop();
    permissionStore.Stop();
    ASSERT_TRUE(report) << "the page reported nothing" << logs;
    std::printf("the page reported:\n%s", report->c_str());

    const auto values = ParseReport(*report);
    EXPECT_EQ(values.count("error"), 0u) << *report << logs;
    EXPECT_NE(values.count("cameras") ? values.at("cameras").find("Kelo Virtual Camera")
                                      : std::string::npos,
              std::string::npos)
        << *report;
    for (const std::string opening : {"open1", "open2"}) {
        EXPECT_EQ(values.count(opening + ".error"), 0u) << *report << logs;
        EXPECT_EQ(values.count(opening + ".size") ? values.at(opening + ".size") : "", "1280x720")
            << *report;
        EXPECT_TRUE(QuadrantsUpright(
            values.count(opening + ".quadrants") ? values.at(opening + ".quadrants") : ""))
            << *report;
        int first = -1;
        int second = -1;
        const std::string counters =
            values.count(opening + ".counters") ? values.at(opening + ".counters") : "";
        EXPECT_EQ(std::sscanf(counters.c_str(), "%d,%d", &first, &second), 2) << *report;
        EXPECT_GE(first, 0) << *report;
        EXPECT_GT(second, first) << "live: the second sample is a later frame\n" << *report;
    }
    if (HasFailure())
        std::printf("%s\n", logs.c_str());
}

} // namespace
} // namespace kelo::vcam
