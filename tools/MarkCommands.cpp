// eegfile mark FILE --from S --to S [--keep] [--comment TEXT] [--force]
// eegfile cut FILE
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "EegFile/events/DataMarkDeleteEvent.h"
#include "EegFile/events/EegEventList.h"
#include "EegFile/frame/EegFileException.h"
#include "tools/Tool.h"

namespace eegtool {

namespace {

struct MarkArgs {
    std::string path, from, to, comment;
    bool keep = false;
    bool force = false;
};

int RunMark(const MarkArgs& args) {
    SetSubject(args.path);
    const double from = ParseSeconds(args.from, "--from");
    const double to = ParseSeconds(args.to, "--to");
    if (!(to > from))
        throw UsageError("--to must lie after --from");

    std::unique_ptr<CEegFile> file = OpenRecording(args.path, 0);
    const double rate = file->GetSampleRate();
    const auto stamp = [rate](double seconds) {
        const double s = SamplesOf(seconds, rate);
        return CEegTimeStamp(s >= 4294967294.0 ? 4294967294u : static_cast<uint32_t>(s));
    };
    const int flag = args.keep ? 0 : 1;
    CEegEventList marks;
    file->GetDataMarkList(marks);
    if (file->GetMarkForDelete() != flag) {
        // The file's marks all select data the same way; switching discards them.
        if (marks.GetSize() > 0 && !args.force)
            throw ToolError(std::string("the file's ") + std::to_string(marks.GetSize()) +
                            " marks select data to " + (flag ? "keep" : "cut") + "; a mark to " +
                            (flag ? "cut" : "keep") + " would discard them (--force to do so)");
        file->SetMarkForDelete(flag);
    }
    // --to is the end of the stretch, not part of it (as --seconds counts in
    // dump): the mark ends on the sample before it.
    const CEegTimeStamp first = stamp(from);
    CEegTimeStamp last = stamp(to);
    if (last > first)
        last = CEegTimeStamp(last.GetSampleOffset() - 1);
    auto mark = std::make_unique<CDataMarkDeleteEvent>(first, last, CDataMarkDeleteEvent::mtEeg);
    mark->SetComment(args.comment.c_str());
    file->AddDataMark(mark.get());
    if (file->IsEventValid(mark.get()))
        mark.release();  // the recording's now
    file->GetDataMarkList(marks);
    CEegEventList segments;
    file->GetMarkedSegmentList(segments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    file->Close();
    std::printf("marked %g-%g s to %s; %d marks, %d segments marked\n", from, to,
                flag ? "cut" : "keep", marks.GetSize(), segments.GetSize());
    return kExitOk;
}

int RunCut(const std::string& path) {
    SetSubject(path);
    std::unique_ptr<CEegFile> file = OpenRecording(path, 0);
    if (file->IsReadOnly())
        ThrowEegFileException(CEegFileException::eFileIsReadOnly);
    CEegEventList segments;
    file->GetMarkedSegmentList(segments, CEegTimeStamp::NullStamp, CEegTimeStamp::NullStamp, 0);
    if (segments.GetSize() == 0) {
        file->Close();
        std::printf("nothing is marked; the file is unchanged\n");
        return kExitOk;
    }
    Progress progress("cut");
    CVoidCall1ArgFn<int64_t> onProgress(
        [&progress](int64_t percent) { progress.Update(static_cast<double>(percent) / 100.0); });
    file->SetDeleteEegDataOnClose();
    // Ends with the recording closed, cut or not.
    file->DeleteMarkedEegData(&onProgress);
    progress.Done();

    file = OpenRecording(path, 0);
    std::printf("cut %d marked segments; length %u samples (unchanged time base), %u s\n",
                segments.GetSize(), file->GetLengthInSamples(), file->GetLengthInSeconds());
    file->Close();
    return kExitOk;
}

}  // namespace

void AddMarkCommands(CLI::App& app, Action& action) {
    auto args = std::make_shared<MarkArgs>();
    CLI::App* mark = app.add_subcommand("mark", "Mark a stretch to cut (or, with --keep, to keep)");
    mark->add_option("FILE", args->path, "Recording")->required();
    mark->add_option("--from", args->from, "Start (seconds or [hh:]mm:ss)")->required();
    mark->add_option("--to", args->to, "End (seconds or [hh:]mm:ss)")->required();
    mark->add_flag("--keep", args->keep, "Keep this stretch; everything not kept is cut");
    mark->add_option("--comment", args->comment, "Note stored with the mark");
    mark->add_flag("--force", args->force, "Discard existing marks of the other kind");
    mark->callback([args, &action] { action = [args] { return RunMark(*args); }; });

    auto path = std::make_shared<std::string>();
    CLI::App* cut = app.add_subcommand("cut", "Cut the marked stretches out of the recording");
    cut->add_option("FILE", *path, "Recording")->required();
    cut->callback([path, &action] { action = [path] { return RunCut(*path); }; });
}

}  // namespace eegtool
