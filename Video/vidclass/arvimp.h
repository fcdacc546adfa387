#pragma once

// Binding of Aravis, the library of GenICam cameras (GigE Vision and USB3
// Vision): which cameras there are, opening one by its place in that list,
// and the library's in-process fake cameras that stand in for them.
//
// STEREO_GENICAM_FAKE=n lists n fake cameras instead of the attached ones
// (0: none at all). While it is set no interface of the library looks for
// cameras: GigE Vision discovery broadcasts on every network interface.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef struct _ArvCamera ArvCamera;
typedef struct _ArvFakeCamera ArvFakeCamera;
typedef struct _GError GError;

namespace arvimp {

inline constexpr const char* kFakeCamerasVariable = "STEREO_GENICAM_FAKE";

// How a camera introduces itself in the source lists.
struct CameraName {
  std::string Vendor;
  std::string Model;
  std::string Serial;
};

// The number of fake cameras asked for; -1 when the attached cameras are
// to be listed.
int FakeCamerasAsked();

// Every camera there is now, in the library's order. With the fakes asked
// for, the fakes, and the library's discovery stays off.
std::vector<CameraName> ListCameras();

// Opens the camera at that place of the last listing; null with the
// library's error in `error` when it does not open.
ArvCamera* OpenCamera(int index, GError** error);

// Called with each fake camera as it is made (its place in the list
// first), before the program sees it: tests and demos make it show what
// they need. Null: the library's own test pattern.
using FakeCameraSetUp = std::function<void(int index, ArvFakeCamera* camera)>;
void SetFakeCameraSetUp(FakeCameraSetUp set_up);

// The program's result code for a call that left this error: 0 for none,
// else the error's code, -1 where that is 0.
int32_t ResultOf(const GError* error);

// "<what> <result>" and, for a failure, the library's message after it.
std::string ResultLine(const std::string& what, const GError* error);

}  // namespace arvimp
