#pragma once

// What a filter reaches of its own set-up dialog. The dialogs implement it in
// the application layer; filters without a dialog hold none.
class TFilterSetup {
 public:
  virtual ~TFilterSetup() = default;
  virtual int Left() const = 0;
  virtual int Top() const = 0;
  virtual void MoveTo(int left, int top) = 0;
};
