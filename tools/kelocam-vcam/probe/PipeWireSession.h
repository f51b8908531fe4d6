// A private PipeWire for one test or benchmark: its own runtime folder, a session bus from
// dbus-daemon, pipewire and wireplumber, all started here and stopped by their pids. Nothing of
// the user's desktop is touched: configuration and state live in the session's own folder, and
// wireplumber's device monitors (ALSA, V4L2, libcamera, Bluetooth) are off, so the daemon holds
// only the nodes its clients make.
//
// While a session runs, this process's PIPEWIRE_RUNTIME_DIR points at it (PipeWire clients made
// here, such as pipewiresrc or the device monitor, find it); Environment() is what child
// processes need.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tools/kelocam-vcam/probe/BridgeProcess.h"

namespace kelo::vcam::probe {

class PipeWireSession {
public:
    PipeWireSession();
    PipeWireSession(const PipeWireSession&) = delete;
    PipeWireSession& operator=(const PipeWireSession&) = delete;
    ~PipeWireSession(); // Stop()

    // A bus that starts no service by itself (no D-Bus activation): every daemon of the session
    // is then one that the caller started, and stops, by its pid. Call before Start.
    void WithoutBusActivation() { noActivation_ = true; }
    const std::filesystem::path& root() const { return root_; }

    // Starts the three daemons and waits until PipeWire answers and wireplumber has connected.
    // False with error() (which names the missing program or what did not come up).
    bool Start(std::chrono::seconds limit = std::chrono::seconds(30));
    // Stops wireplumber and pipewire (the daemon going away); the bus stays until Stop().
    void StopPipeWire();
    void Stop();

    const std::string& error() const { return error_; }
    const std::filesystem::path& runtimeDir() const { return runtimeDir_; }
    BridgeProcess::Environment Environment() const;

    // `pw-cli ls Node` against this daemon: the nodes and their properties, as text.
    std::string ListNodes();
    // What the daemons wrote to standard error (for failure messages).
    std::string Logs();

private:
    bool StartDaemon(BridgeProcess& process, const char* program, const char* package,
                     const std::vector<std::string>& args);
    std::optional<std::string> RunTool(const char* program, const std::vector<std::string>& args);

    std::filesystem::path root_;
    std::filesystem::path runtimeDir_;
    std::unique_ptr<BridgeProcess> bus_;
    std::unique_ptr<BridgeProcess> pipewire_;
    std::unique_ptr<BridgeProcess> wireplumber_;
    std::optional<std::string> previousRuntimeDir_; // this process's PIPEWIRE_RUNTIME_DIR before
    bool exported_ = false;
    bool noActivation_ = false;
    std::string error_;
};

// The full path of a program found on PATH; empty when there is none.
std::filesystem::path FindProgram(const std::string& name);

} // namespace kelo::vcam::probe
