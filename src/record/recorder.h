// The recorder without its window: every sample goes into the ring, into the file being recorded
// (if any) and past the fault-capture trigger; once per tick it hands finished bytes to the file
// thread and turns what came back into messages for the operator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/capture_trigger.h"
#include "record/file_writer.h"
#include "record/sample.h"
#include "record/sample_ring.h"

namespace zrv {

// Rows wait at most this long before they go to the disk (a crash loses no more than that).
inline constexpr std::chrono::milliseconds kFlushInterval{900};

// The name a capture of `capture` is saved under: zrv-fault-YYYYMMDD-HHMMSS-mmm.csv, local time.
std::string CaptureFileName(const FaultCapture& capture);

// The capture's file: the header, then every sample of the ring within the capture's time, its
// elapsed seconds counted from the onset (negative before it).
void AppendCaptureCsv(std::string& out, const SampleRing& ring, const FaultCapture& capture);

class Recorder {
 public:
  explicit Recorder(std::string captureFolder,
                    std::size_t ringCapacity = SampleRing::kDefaultCapacity);
  // Ends a running recording and saves the captures still waiting for their after-time with what
  // they have, then lets the file thread finish.
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Every status reply, and the marker of a lost connection. No heap allocation unless a file is
  // being recorded (and then only when its buffer has to grow).
  void Add(const Sample& sample);

  // Status samples stopped on a live connection, for `reason`: the recording gets a row saying
  // why and the chart breaks its lines. Once per stop: calls until the next reading add nothing.
  void SamplesStopped(GapReason reason, SteadyTime now, WallTime wall);

  // Once per tick: rows to the disk once per flush interval, captures whose time is complete to
  // their files, and what came of earlier file work. Texts for the operator are appended.
  void Tick(SteadyTime now, std::vector<std::string>& messages);

  // Starts a recording into `path` (created, or emptied), rows counted from `now`. False when one
  // is running already.
  bool StartRecording(std::string path, SteadyTime now);
  // Ends the running recording: the rows so far go to the file, which is then closed.
  void StopRecording();

  bool Recording() const { return recording_; }
  const std::string& RecordingPath() const { return path_; }
  std::uint64_t RecordedRows() const { return rows_; }
  SteadyTime RecordingStart() const { return start_; }

  const SampleRing& Ring() const { return ring_; }
  const CaptureTrigger& Trigger() const { return trigger_; }
  const std::string& CaptureFolder() const { return captureFolder_; }
  void SetCaptureFolder(std::string folder) { captureFolder_ = std::move(folder); }
  FileWriter& Writer() { return writer_; }
  // Why the last fault capture could not be saved; empty once one is saved again (or none failed).
  const std::string& CaptureProblem() const { return captureProblem_; }

 private:
  enum class Ending : std::uint8_t { ByOperator, ByDisconnection };
  struct Closing {
    FileWriter::FileId Id;
    Ending Why;
  };

  void Flush(SteadyTime now);
  void SaveDueCaptures(SteadyTime now);
  void EndRecording(Ending why);
  void Report(const FileWriter::Outcome& outcome, std::vector<std::string>& messages);

  SampleRing ring_;
  CaptureTrigger trigger_;
  std::string captureFolder_;
  std::vector<FileWriter::FileId> captures_;  // saves not yet answered
  std::vector<Closing> closing_;              // recordings ended, close not yet answered
  std::vector<FileWriter::Outcome> outcomes_;
  std::vector<std::string> onsets_;           // fault onsets since the last tick, as texts
  std::string captureProblem_;

  bool recording_ = false;
  FileWriter::FileId stream_ = 0;
  std::string path_;
  std::string rowsText_;        // rows not yet handed to the file thread
  std::uint64_t rows_ = 0;      // rows of this recording so far
  std::uint64_t pendingRows_ = 0;
  SteadyTime start_{};
  SteadyTime lastFlush_{};

  // Declared last: destroyed first, so queued work finishes while the rest still exists.
  FileWriter writer_;
};

}  // namespace zrv
