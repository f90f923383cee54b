#include "ui/source_list.h"

#include <string>

namespace vt {
namespace {

// The list as the mixer fills it.
class ListPanel final : public audio::SourceListPanel {
 public:
  explicit ListPanel(CScrollableDialog& list) : list_(list) {}

  void SetExtent(int height) override { list_.SetExtent(height); }
  void RemoveItems() override { list_.RemoveRows(); }
  void CreateItem(int index, const std::string& caption, audio::SourceItemRect rect) override {
    list_.AddRow(index, caption,
                 {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top});
  }
  void CheckItem(int index) override { list_.CheckRow(index); }

 private:
  CScrollableDialog& list_;
};

}  // namespace

unsigned ConnectSourceList(audio::CRecordingMixer& mixer, CScrollableDialog& list,
                           CCoolSlider& volume, std::function<void(const std::string&)> on_chosen) {
  ListPanel panel(list);
  const unsigned count = mixer.BuildSourceList(panel);
  list.SetOnCommand([&mixer, &list, &volume, on_chosen = std::move(on_chosen)](int index) {
    mixer.SelectSource(index);
    // A source the mixer could not take (it has gone) leaves the list and the slider alone.
    if (mixer.SelectedSource() != index) return false;
    volume.SetPos(static_cast<int>(mixer.GetSourceVolume()));
    if (on_chosen) {
      const CRadioButton* row = list.Row(index);
      on_chosen(row != nullptr ? row->Text() : std::string());
    }
    return true;
  });
  volume.SetOnChange([&mixer](CCoolSlider& slider) { mixer.SetSourceVolume(slider.GetPos()); });
  // Without a source to show (no sound server) the slider stays where it was.
  if (mixer.Available() && mixer.SelectedSource() >= 0)
    volume.SetPos(static_cast<int>(mixer.GetSourceVolume()));
  return count;
}

void FollowSourceChanges(audio::CRecordingMixer& mixer, CScrollableDialog& list,
                         CCoolSlider& volume, bool may_choose) {
  ListPanel panel(list);
  const audio::CRecordingMixer::ListUpdate update = mixer.UpdateSourceList(panel, may_choose);
  if (update.selection_changed && mixer.SelectedSource() >= 0)
    volume.SetPos(static_cast<int>(mixer.GetSourceVolume()));
}

}  // namespace vt
