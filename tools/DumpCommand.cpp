// eegfile dump FILE [--from SECONDS] [--seconds N] [--channels LIST] [--format csv|raw]
//
// csv: a header line "sample,<channel>,..." then one line per sample.
// raw: per sample the chosen channels as 16-bit little-endian integers.
#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "EegBase/AmpHardwareInfo.h"
#include "EegBase/AmpInput.h"
#include "EegBase/EegDataChunk.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

struct Args {
    std::string path;
    std::string from = "0";
    std::string seconds;
    std::string channels;
    std::string format = "csv";
};

// Slots by name ("O1") or number (0-31), in the order given.
std::vector<int> ParseChannels(const std::string& list) {
    return ParseNamedList(
        list, 32, [](int s) { return AmpInput::GetName(s); }, "--channels",
        "a channel (Fp1 ... 8A or 0-31)");
}

void Put(const void* data, size_t size) {
    if (size && std::fwrite(data, 1, size, stdout) != size)
        throw ToolError(std::string("writing the output failed: ") + std::strerror(errno));
}

int Run(const Args& args) {
    SetSubject(args.path);
    if (args.format != "csv" && args.format != "raw")
        throw UsageError("--format: csv or raw, not '" + args.format + "'");
    const double fromSeconds = ParseSeconds(args.from, "--from");
    const double wanted = args.seconds.empty() ? -1 : ParseSeconds(args.seconds, "--seconds");
    std::vector<int> slots =
        args.channels.empty() ? std::vector<int>() : ParseChannels(args.channels);

    std::unique_ptr<CEegFile> file = OpenRecording(args.path, 0);
    if (slots.empty()) {
        bool stored[32] = {};
        const CAmpInputDomain& inputs = file->GetAmpHardwareInfo().GetInputDomain();
        for (int i = 0; i < inputs.GetSize(); ++i) {
            const int s = CAmpHardwareInfo::GetAmpChannelIndex(inputs.GetAt(i));
            if (s >= 0 && s < 32)
                stored[s] = true;
        }
        for (int s = 0; s < 32; ++s)
            if (stored[s])
                slots.push_back(s);
    }
    const int rate = static_cast<int>(file->GetSampleRate());
    const uint32_t length = file->GetLengthInSamples();
    const double firstD = SamplesOf(fromSeconds, rate);
    const uint32_t first = firstD >= length ? length : static_cast<uint32_t>(firstD);
    uint32_t count = length - first;
    if (wanted >= 0) {
        const double n = SamplesOf(wanted, rate);
        if (n < count)
            count = static_cast<uint32_t>(n);
    }

    const bool csv = args.format == "csv";
    if (csv) {
        std::string header = "sample";
        for (int s : slots)
            header += std::string(",") + AmpInput::GetName(s);
        header += '\n';
        Put(header.data(), header.size());
    }
    const uint32_t capacity = static_cast<uint32_t>(std::max(rate, 1)) * 10;
    CEegDataChunk chunk(static_cast<int>(capacity), 32);
    file->SetReadPosition(CEegTimeStamp(first));
    uint32_t done = 0;
    std::string text;
    std::vector<unsigned char> raw;
    while (done < count) {
        const uint32_t n = std::min(capacity, count - done);
        if (!file->ReadEegData(chunk, n) || chunk.GetNumberOfSamples() == 0)
            break;
        text.clear();
        raw.clear();
        for (uint32_t i = 0; i < chunk.GetNumberOfSamples(); ++i) {
            const int16_t* frame = chunk.GetFrame(i);
            if (csv) {
                text += std::to_string(first + done + i);
                for (int s : slots) {
                    text += ',';
                    text += std::to_string(frame[s]);
                }
                text += '\n';
            } else {
                for (int s : slots) {
                    const auto v = static_cast<uint16_t>(frame[s]);
                    raw.push_back(static_cast<unsigned char>(v & 0xFF));
                    raw.push_back(static_cast<unsigned char>(v >> 8));
                }
            }
        }
        if (csv)
            Put(text.data(), text.size());
        else
            Put(raw.data(), raw.size());
        done += chunk.GetNumberOfSamples();
    }
    if (std::fflush(stdout) != 0)
        throw ToolError(std::string("writing the output failed: ") + std::strerror(errno));
    file->Close();
    return kExitOk;
}

}  // namespace

void AddDumpCommand(CLI::App& app, Action& action) {
    auto args = std::make_shared<Args>();
    CLI::App* cmd = app.add_subcommand("dump", "Print samples as CSV or raw 16-bit integers");
    cmd->add_option("FILE", args->path, "Recording")->required();
    cmd->add_option("--from", args->from, "First second (seconds or [hh:]mm:ss)");
    cmd->add_option("--seconds", args->seconds, "How many seconds (default: to the end)");
    cmd->add_option("--channels", args->channels,
                    "Comma list of channels by name (O1) or slot (0-31); default: the stored ones");
    cmd->add_option("--format", args->format, "csv (default) or raw (int16 little-endian)");
    cmd->callback([args, &action] { action = [args] { return Run(*args); }; });
}

}  // namespace eegtool
