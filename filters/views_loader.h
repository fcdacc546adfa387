#pragma once

// Loads a views folder on a thread of its own into a calibration of its
// own: searching 20 pairs takes seconds, and the window goes on meanwhile.
// The window polls for the lines and the progress, and takes the views
// when the load is finished.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filters/saved_views.h"
#include "filters/ucalibfilter.h"

class TViewsLoader {
 public:
  TViewsLoader(int cameras, const TViewsSettings& settings, std::string folder,
               std::vector<std::string> names);
  // Stops after the pair being searched.
  ~TViewsLoader();
  TViewsLoader(const TViewsLoader&) = delete;
  TViewsLoader& operator=(const TViewsLoader&) = delete;

  struct Progress {
    std::vector<std::string> Lines;  // since the last poll
    int Searched = 0;
    int Pairs = 0;
    bool Finished = false;
  };
  Progress Poll();
  // The views loaded, board and settings with them; once Poll said
  // finished.
  TCalibrationFilter& Result() { return result_; }

 private:
  class Lines : public TLogMemo {
   public:
    explicit Lines(TViewsLoader& owner) : owner_(owner) {}
    void AppendLine(const std::string& line) override;

   private:
    TViewsLoader& owner_;
  };
  void Run();

  std::string folder_;
  std::vector<std::string> names_;
  TCalibrationFilter result_;
  Lines lines_{*this};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> pending_;
  int searched_ = 0;
  bool finished_ = false;
  // Last: it starts once everything it uses exists.
  std::thread thread_;
};
