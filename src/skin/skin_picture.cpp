#include "skin/skin_picture.h"

#include "skin/skin_archive.h"

namespace vt {

void CSkinPicture::LoadImage(std::string_view name) {
  LoadSkinBitmapInto(name, image_);
  Invalidate();
}

void CSkinPicture::Paint(gfx::Surface& target) {
  if (image_.Empty()) return;
  gfx::CopyKeyed(target, Bounds(), image_, image_.Bounds(), gfx::kWindowKey);
}

}  // namespace vt
