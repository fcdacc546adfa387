#include "filters/views_loader.h"

#include <utility>

TViewsLoader::TViewsLoader(int cameras, const TViewsSettings& settings, std::string folder,
                           std::vector<std::string> names)
    : folder_(std::move(folder)), names_(std::move(names)) {
  result_.SetCameraCount(cameras);
  result_.SetBoardSize(settings.BoardWidth, settings.BoardHeight);
  result_.SquareSize_mm = settings.SquareSize_mm;
  result_.SubPixel = settings.SubPixel;
  result_.LogMemo = &lines_;
  thread_ = std::thread([this] { Run(); });
}

TViewsLoader::~TViewsLoader() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void TViewsLoader::Lines::AppendLine(const std::string& line) {
  const std::lock_guard lock(owner_.mutex_);
  owner_.pending_.push_back(line);
}

void TViewsLoader::Run() {
  LoadViewPairs(result_, folder_, names_, [this](int searched, int) {
    const std::lock_guard lock(mutex_);
    searched_ = searched;
    return !stop_;
  });
  const std::lock_guard lock(mutex_);
  finished_ = true;
}

TViewsLoader::Progress TViewsLoader::Poll() {
  Progress progress;
  {
    const std::lock_guard lock(mutex_);
    progress.Lines.swap(pending_);
    progress.Searched = searched_;
    progress.Finished = finished_;
  }
  progress.Pairs = static_cast<int>(names_.size());
  // The result is the window's from here on.
  if (progress.Finished && thread_.joinable()) thread_.join();
  return progress;
}
