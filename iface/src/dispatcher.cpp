// The command dispatcher and the process-wide state behind DasCall.
#include "dispatcher.h"

#include "dashard.h"
#include "diagnostic.h"
#include "output_kind.h"
#include "output_setting.h"
#include "trace.h"

#include <chrono>
#include <cstdlib>
#include <mutex>

namespace das {

namespace {

constexpr const char *kTraceVariable = "DASHARD_TRACE";

// The setting as the operator wrote it, and where, for messages.
std::string describe(const OutputSetting &setting)
{
    switch (setting.source) {
    case SettingSource::Variable:
        return "\"" + setting.text + "\"";
    case SettingSource::File:
        return "\"" + setting.text + "\" set in " + setting.file + ":"
            + std::to_string(setting.line);
    case SettingSource::Default:
        break;
    }
    return "\"" + std::string(defaultOutputKind().name) + "\" (the default)";
}

} // namespace

std::unique_ptr<Backend> openOutput(const OutputConfig &config, std::string &why)
{
    why.clear();
    return outputKind(config).open(config, why);
}

int validateCall(int32_t command, int32_t length, const uint8_t *buffer)
{
    switch (command) {
    case DAS_CMD_OPEN:
    case DAS_CMD_CLOSE:
    case DAS_CMD_START:
        // The buffer is not looked at: these commands carry nothing.
        return length == 0 ? DAS_OK : DAS_E_ARGUMENT;
    case DAS_CMD_SEND:
        return length == DAS_FRAME_SIZE && buffer ? DAS_OK : DAS_E_ARGUMENT;
    default:
        return DAS_E_COMMAND;
    }
}

int Dispatcher::call(int32_t command, int32_t length, const uint8_t *buffer)
{
    if (const int invalid = validateCall(command, length, buffer); invalid != DAS_OK)
        return invalid;

    switch (command) {
    case DAS_CMD_OPEN:
        return open();
    case DAS_CMD_CLOSE:
        close();
        return DAS_OK;
    case DAS_CMD_START:
    case DAS_CMD_SEND: {
        if (!m_output)
            return DAS_E_NOT_OPEN;
        const int result = command == DAS_CMD_START
            ? m_output->start()
            : m_output->send(Frame(buffer, static_cast<std::size_t>(kFrameSize)));
        // A failed output is gone: drop it without a goodbye, which could only fail too. Later
        // calls then say "not open" until the next command 1.
        if (result < 0)
            m_output.reset();
        return result;
    }
    }
    return DAS_E_COMMAND;
}

int Dispatcher::open()
{
    close();
    OutputSetting setting;
    std::string why;
    const auto config = findOutputSetting(setting, why);
    if (!config) {
        printDiagnostic(why);
        return DAS_E_CONFIG;
    }
    m_output = openOutput(*config, why);
    if (!m_output) {
        printDiagnostic("cannot open output " + describe(setting) + ": " + why);
        return DAS_E_UNAVAILABLE;
    }
    if (!why.empty()) {
        m_note = "output " + describe(setting) + ": " + why;
        printDiagnostic(m_note);
    }
    return DAS_OK;
}

void Dispatcher::close()
{
    if (!m_output)
        return;
    m_output->stop();
    m_output.reset();
}

int32_t libraryCall(int32_t command, int32_t length, const uint8_t *buffer) noexcept
{
    // Built on the first call and never destroyed: an output left open is released by the
    // kernel at exit, not by a destructor racing other libraries' teardown. Nothing here is
    // touched at load time.
    struct State
    {
        std::mutex mutex;
        Dispatcher dispatcher;
        Trace trace;
        std::chrono::steady_clock::time_point origin;
        bool started = false;
    };
    try {
        static State &state = *new State;
        std::lock_guard lock(state.mutex);
        if (!state.started) {
            state.started = true;
            state.origin = std::chrono::steady_clock::now();
            if (const char *path = std::getenv(kTraceVariable); path && *path)
                state.trace.open(path);
        }
        int32_t result;
        try {
            result = state.dispatcher.call(command, length, buffer);
        } catch (...) {
            result = DAS_E_INTERNAL;
        }
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - state.origin);
        const bool frame = command == DAS_CMD_SEND && length == DAS_FRAME_SIZE && buffer;
        state.trace.record(micros.count(), command, length, result, frame ? buffer : nullptr);
        if (const std::string note = state.dispatcher.takeNote(); !note.empty())
            state.trace.note(note);
        return result;
    } catch (...) {
        return DAS_E_INTERNAL;
    }
}

} // namespace das
