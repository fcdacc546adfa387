// Taking filters out of the chain.

#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>

#include "app/Unit1.h"
#include "app/filter_list_box.h"
#include "filters/disparity_filter.h"
#include "filters/vidfilters.h"

namespace {

// A filter may end on this thread once nothing of it runs elsewhere.
bool MayEndNow(const TVidFilter& filter) {
  const auto* disparity = dynamic_cast<const TDisparityFilter*>(&filter);
  return disparity == nullptr || disparity->WaitForMatcher(std::chrono::milliseconds(0));
}

}  // namespace

void TForm1::RemoveFilter(int row) {
  if (row < 0 || row >= static_cast<int>(FilterList.size())) return;
  std::shared_ptr<TVidFilter> filter = FilterList[static_cast<size_t>(row)].Filter;
  AppendLog("Filter removed: " + FilterList[static_cast<size_t>(row)].Name);
  FilterList.erase(FilterList.begin() + row);
  QStringList names;
  for (const TFilterEntry& entry : FilterList) names << QString::fromStdString(entry.Name);
  StereoFIlterListBox->ReplaceEntries(names);
  for (int other = 0; other < static_cast<int>(FilterList.size()); ++other) {
    StereoFIlterListBox->SetChecked(other, FilterList[static_cast<size_t>(other)].Filter->Enabled);
  }
  if (!FilterList.empty())
    StereoFIlterListBox->setCurrentRow(std::min(row, static_cast<int>(FilterList.size()) - 1));
  // Another entry may still stand for the same filter.
  if (filter.use_count() > 1) return;
  if (auto* dialog = dynamic_cast<QWidget*>(filter->Setup)) dialog->hide();
  retiring_filters_.push_back(std::move(filter));
  if (retire_timer_ == nullptr) {
    retire_timer_ = new QTimer(this);
    retire_timer_->setInterval(50);
    connect(retire_timer_, &QTimer::timeout, this, [this] { EndIdleFilters(); });
  }
  EndIdleFilters();
}

void TForm1::EndIdleFilters() {
  std::erase_if(retiring_filters_,
                [](const std::shared_ptr<TVidFilter>& filter) { return MayEndNow(*filter); });
  if (retiring_filters_.empty()) {
    retire_timer_->stop();
  } else if (!retire_timer_->isActive()) {
    retire_timer_->start();
  }
}
