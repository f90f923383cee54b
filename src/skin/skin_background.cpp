#include "skin/skin_background.h"

#include "skin/skin_archive.h"

namespace vt {

void CSkinBackground::LoadBackground(win::Window& window, std::string_view image_name) {
  gfx::Surface image;
  if (!LoadSkinBitmapInto(image_name, image)) return;
  SetBackgroundImage(window, std::move(image));
}

void CSkinBackground::SetBackgroundImage(win::Window& window, gfx::Surface image) {
  image_ = std::move(image);
  window.SetClientSize(image_.GetSize());
  window.Invalidate();
}

bool CSkinBackground::EraseBackground(const win::Window& window, gfx::Surface& target) const {
  if (image_.Empty()) return true;
  const gfx::Size client = window.ClientSize();
  gfx::CopyKeyed(target, {0, 0, client.w, client.h}, image_, image_.Bounds(), kTransparencyKey);
  return true;
}

}  // namespace vt
