#include "tools/kelocam-vcam/probe/PipeWireSession.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace kelo::vcam::probe {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool SocketAnswers(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// wireplumber's own configuration with its device monitors switched off. The fragments are
// read after the packaged defaults (50-*) and before they are acted on (90-enable-all).
void WriteWirePlumberConfig(const std::filesystem::path& configHome) {
    const auto main = configHome / "wireplumber" / "main.lua.d";
    const auto bluetooth = configHome / "wireplumber" / "bluetooth.lua.d";
    std::filesystem::create_directories(main);
    std::filesystem::create_directories(bluetooth);
    std::ofstream(main / "60-kelo-test.lua") << "alsa_monitor.enabled = false\n"
                                                "v4l2_monitor.enabled = false\n"
                                                "libcamera_monitor.enabled = false\n";
    std::ofstream(bluetooth / "60-kelo-test.lua") << "bluez_monitor.enabled = false\n";
}

} // namespace

std::filesystem::path FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::filesystem::path candidate =
            std::filesystem::path(folders.substr(start, end - start)) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

PipeWireSession::PipeWireSession() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelo-pw-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        root_ = pattern;
    runtimeDir_ = root_ / "run";
}

PipeWireSession::~PipeWireSession() {
    Stop();
    std::error_code ec;
    if (!root_.empty())
        std::filesystem::remove_all(root_, ec);
}

BridgeProcess::Environment PipeWireSession::Environment() const {
    return {{"XDG_RUNTIME_DIR", runtimeDir_.string()},
            {"PIPEWIRE_RUNTIME_DIR", runtimeDir_.string()},
            {"PIPEWIRE_REMOTE", "pipewire-0"},
            {"XDG_CONFIG_HOME", (root_ / "config").string()},
            {"XDG_STATE_HOME", (root_ / "state").string()},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (runtimeDir_ / "bus").string()}};
}

bool PipeWireSession::StartDaemon(BridgeProcess& process, const char* program, const char* package,
                                  const std::vector<std::string>& args) {
    const auto path = FindProgram(program);
    if (path.empty()) {
        error_ = std::string(program) + " is missing (Debian package " + package + ")";
        return false;
    }
    if (!process.StartProgram(path, args, Environment(), root_)) {
        error_ = std::string("cannot start ") + path.string();
        return false;
    }
    return true;
}

bool PipeWireSession::Start(std::chrono::seconds limit) {
    error_.clear();
    if (root_.empty()) {
        error_ = "cannot make a temporary folder";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(runtimeDir_, ec);
    std::filesystem::permissions(runtimeDir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
    WriteWirePlumberConfig(root_ / "config");
    const auto deadline = Clock::now() + limit;

    bus_ = std::make_unique<BridgeProcess>();
    std::vector<std::string> busArgs = {"--session", "--nofork", "--nopidfile",
                                        "--address=unix:path=" + (runtimeDir_ / "bus").string()};
    if (noActivation_) {
        // The session bus's own rules, without the service folders it would start programs from.
        const auto config = root_ / "bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                                 "Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/"
                                 "busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:path="
                              << (runtimeDir_ / "bus").string()
                              << "</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\"><allow send_destination=\"*\" "
                                 "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                 "<allow own=\"*\"/></policy></busconfig>\n";
        busArgs[0] = "--config-file=" + config.string();
    }
    if (!StartDaemon(*bus_, "dbus-daemon", "dbus", busArgs))
        return false;
    while (!SocketAnswers(runtimeDir_ / "bus")) {
        if (Clock::now() > deadline || bus_->Wait(0ms)) {
            error_ = "the session bus did not come up: " + bus_->Stderr();
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }

    pipewire_ = std::make_unique<BridgeProcess>();
    if (!StartDaemon(*pipewire_, "pipewire", "pipewire-bin", {}))
        return false;
    while (!SocketAnswers(runtimeDir_ / "pipewire-0")) {
        if (Clock::now() > deadline || pipewire_->Wait(0ms)) {
            error_ = "pipewire did not come up: " + pipewire_->Stderr();
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    // Clients made in this process (pipewiresrc, the device monitor) look here.
    if (!exported_) {
        if (const char* previous = std::getenv("PIPEWIRE_RUNTIME_DIR"))
            previousRuntimeDir_ = previous;
        exported_ = true;
    }
    setenv("PIPEWIRE_RUNTIME_DIR", runtimeDir_.c_str(), 1);

    wireplumber_ = std::make_unique<BridgeProcess>();
    if (!StartDaemon(*wireplumber_, "wireplumber", "wireplumber", {}))
        return false;
    // The session manager links readers to the camera: wait until it has connected.
    for (;;) {
        const auto clients = RunTool("pw-cli", {"ls", "Client"});
        if (clients && clients->find("WirePlumber") != std::string::npos)
            return true;
        if (Clock::now() > deadline || wireplumber_->Wait(0ms)) {
            error_ = "wireplumber did not connect: " + wireplumber_->Stderr();
            return false;
        }
        std::this_thread::sleep_for(100ms);
    }
}

void PipeWireSession::StopPipeWire() {
    if (wireplumber_)
        wireplumber_->Stop();
    if (pipewire_)
        pipewire_->Stop();
}

void PipeWireSession::Stop() {
    StopPipeWire();
    if (bus_)
        bus_->Stop();
    if (exported_) {
        if (previousRuntimeDir_)
            setenv("PIPEWIRE_RUNTIME_DIR", previousRuntimeDir_->c_str(), 1);
        else
            unsetenv("PIPEWIRE_RUNTIME_DIR");
        exported_ = false;
        previousRuntimeDir_.reset();
    }
}

std::optional<std::string> PipeWireSession::RunTool(const char* program,
                                                    const std::vector<std::string>& args) {
    const auto path = FindProgram(program);
    BridgeProcess tool;
    if (path.empty() || !tool.StartProgram(path, args, Environment()))
        return std::nullopt;
    std::string output;
    const auto deadline = Clock::now() + 10s;
    for (;;) {
        pollfd out{tool.stdoutFd(), POLLIN, 0};
        if (poll(&out, 1, 100) > 0) {
            char chunk[4096];
            const ssize_t n = read(tool.stdoutFd(), chunk, sizeof chunk);
            if (n <= 0)
                break;
            output.append(chunk, static_cast<std::size_t>(n));
        }
        if (Clock::now() > deadline)
            return std::nullopt; // the destructor ends the tool
    }
    if (tool.Wait(5s) != 0)
        return std::nullopt;
    return output;
}

std::string PipeWireSession::ListNodes() {
    return RunTool("pw-cli", {"ls", "Node"}).value_or("");
}

std::string PipeWireSession::Logs() {
    std::string text;
    if (pipewire_)
        text += "pipewire: " + pipewire_->Stderr() + "\n";
    if (wireplumber_)
        text += "wireplumber: " + wireplumber_->Stderr() + "\n";
    return text;
}

} // namespace kelo::vcam::probe
