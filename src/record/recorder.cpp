#include "record/recorder.h"

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "record/csv_row.h"
#include "record/local_time.h"

namespace zrv {
namespace {

// Room for about two seconds of rows, so a recording's buffer rarely grows.
constexpr std::size_t kRowsReserve = 64 * 1024;

std::string FileNameOnly(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string CaptureFileName(const FaultCapture& capture) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(capture.OnsetWall.time_since_epoch()).count();
  const auto t = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  long offsetSeconds = 0;
  LocalTimeOf(t, local, offsetSeconds);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "zrv-fault-%Y%m%d-%H%M%S", &local);
  std::string name(text, n);
  char milli[8];
  std::snprintf(milli, sizeof milli, "-%03d", static_cast<int>(ms % 1000));
  return name + milli + ".csv";
}

void AppendCaptureCsv(std::string& out, const SampleRing& ring, const FaultCapture& capture) {
  AppendCsvHeader(out);
  for (std::size_t i = ring.FirstAtOrAfter(capture.From); i < ring.Size(); ++i) {
    const Sample& sample = ring[i];
    if (sample.Time > capture.Until) break;
    AppendCsvRow(out, sample, capture.Onset);
  }
}

Recorder::Recorder(std::string captureFolder, std::size_t ringCapacity)
    : ring_(ringCapacity), captureFolder_(std::move(captureFolder)) {
  captures_.reserve(CaptureTrigger::kMaxPending * 2);
  closing_.reserve(4);
  outcomes_.reserve(8);
  onsets_.reserve(CaptureTrigger::kMaxPending);
}

Recorder::~Recorder() {
  StopRecording();
  SaveDueCaptures(SteadyTime::max());
}

void Recorder::SaveDueCaptures(SteadyTime now) {
  while (const auto capture = trigger_.PopDue(now)) {
    std::string bytes;
    AppendCaptureCsv(bytes, ring_, *capture);
    captures_.push_back(writer_.SaveFile(captureFolder_, CaptureFileName(*capture), std::move(bytes)));
  }
}

void Recorder::Add(const Sample& sample) {
  ring_.Push(sample);
  if (trigger_.Feed(sample) && onsets_.size() < onsets_.capacity()) {
    std::string text = "Fault \"";
    text.append(FaultName(sample.Status.FaultCode));
    text.append("\": saving the 10 s before and the 5 s after it");
    onsets_.push_back(std::move(text));
  }
  if (!recording_) return;
  AppendCsvRow(rowsText_, sample, start_);
  ++rows_;
  ++pendingRows_;
  if (sample.Kind == SampleKind::Disconnected) {
    EndRecording(Ending::ByDisconnection);
  }
}

void Recorder::SamplesStopped(GapReason reason, SteadyTime now, WallTime wall) {
  if (ring_.Size() == 0 || !ring_[ring_.Size() - 1].IsReading()) return;
  Add(MakeGapSample(reason, now, wall));
}

bool Recorder::StartRecording(std::string path, SteadyTime now) {
  if (recording_) return false;
  std::string header;
  AppendCsvHeader(header);
  stream_ = writer_.OpenStream(path, std::move(header));
  path_ = std::move(path);
  recording_ = true;
  rows_ = 0;
  pendingRows_ = 0;
  start_ = now;
  lastFlush_ = now;
  rowsText_.clear();
  rowsText_.reserve(kRowsReserve);
  return true;
}

void Recorder::StopRecording() {
  if (recording_) EndRecording(Ending::ByOperator);
}

void Recorder::EndRecording(Ending why) {
  if (!rowsText_.empty()) {
    writer_.Append(stream_, std::move(rowsText_), pendingRows_);
    rowsText_.clear();
    pendingRows_ = 0;
  }
  writer_.Close(stream_);
  closing_.push_back(Closing{stream_, why});
  recording_ = false;
}

void Recorder::Flush(SteadyTime now) {
  if (!recording_ || now - lastFlush_ < kFlushInterval) return;
  lastFlush_ = now;
  if (rowsText_.empty()) return;
  writer_.Append(stream_, std::move(rowsText_), pendingRows_);
  rowsText_ = std::string();
  rowsText_.reserve(kRowsReserve);
  pendingRows_ = 0;
}

void Recorder::Tick(SteadyTime now, std::vector<std::string>& messages) {
  for (std::string& text : onsets_) {
    messages.push_back(std::move(text));
  }
  onsets_.clear();

  Flush(now);

  SaveDueCaptures(now);

  outcomes_.clear();
  writer_.TakeOutcomes(outcomes_);
  for (const FileWriter::Outcome& outcome : outcomes_) {
    Report(outcome, messages);
  }
}

void Recorder::Report(const FileWriter::Outcome& outcome, std::vector<std::string>& messages) {
  using Kind = FileWriter::Outcome::Kind;
  const std::string rowsKept = std::to_string(outcome.RowsKept);

  if (const auto capture = std::find(captures_.begin(), captures_.end(), outcome.Id);
      capture != captures_.end()) {
    captures_.erase(capture);
    if (outcome.What == Kind::Saved) {
      captureProblem_.clear();
      messages.push_back("Fault capture saved: " + outcome.Path);
    } else {
      captureProblem_ = "cannot write to " + outcome.Path + ": " + outcome.Reason;
      messages.push_back("Fault capture not saved: " + captureProblem_);
    }
    return;
  }

  const auto closing = std::find_if(closing_.begin(), closing_.end(),
                                    [&](const Closing& c) { return c.Id == outcome.Id; });
  if (outcome.What == Kind::Failed) {
    if (closing != closing_.end()) closing_.erase(closing);
    if (recording_ && outcome.Id == stream_) {
      // Stopped here, so no more rows are made for a file that takes none.
      recording_ = false;
      rowsText_.clear();
      pendingRows_ = 0;
    }
    if (!outcome.Started) {
      messages.push_back("Recording not started: " + outcome.Path + ": " + outcome.Reason +
                         "; choose another file and Record again");
    } else if (outcome.Vanished) {
      messages.push_back("Recording stopped: " + FileNameOnly(outcome.Path) + ": " + outcome.Reason +
                         "; no rows kept, they went with it; Record again to start a new file");
    } else {
      messages.push_back("Recording stopped: " + FileNameOnly(outcome.Path) + ": " + outcome.Reason +
                         "; " + rowsKept + " rows kept in " + outcome.Path +
                         "; free space or choose another folder, then Record again");
    }
    return;
  }
  if (outcome.What == Kind::Closed && closing != closing_.end()) {
    const Ending why = closing->Why;
    closing_.erase(closing);
    if (why == Ending::ByDisconnection) {
      messages.push_back("Recording stopped: driver disconnected; " + rowsKept + " rows saved in " +
                         outcome.Path);
    } else {
      messages.push_back("Recording saved: " + outcome.Path + " (" + rowsKept + " rows)");
    }
  }
}

}  // namespace zrv
