#include "app/version_info.h"

#include <gst/gst.h>

#include <QtGlobal>
#include <opencv2/core/utility.hpp>

std::string VersionText() {
  // The libraries' own answers at run time, not the headers built against:
  // a system update changes them without a rebuild.
  guint major = 0;
  guint minor = 0;
  guint micro = 0;
  guint nano = 0;
  gst_version(&major, &minor, &micro, &nano);
  return std::string("stereo ") + kStereoVersion + "\n" + "Qt " + qVersion() + "\n" + "OpenCV " +
         cv::getVersionString() + "\n" + "GStreamer " + std::to_string(major) + "." + std::to_string(minor) +
         "." + std::to_string(micro) + "\n";
}
