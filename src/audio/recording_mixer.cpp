#include "audio/recording_mixer.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vt::audio {

std::string CutUtf8(std::string text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  // Back up over continuation bytes (10xxxxxx) to the start of the character that was cut.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

bool NamesWaveOutMix(const std::string& name) {
  std::string lower = name;
  // ASCII letters only: the bytes of other UTF-8 characters are left as they are.
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return lower.find("wave out mix") != std::string::npos;
}

CRecordingMixer::CRecordingMixer(MixerDeviceFactory factory) : factory_(std::move(factory)) {}

CRecordingMixer::~CRecordingMixer() {
  if (device_) device_->Close();
}

void CRecordingMixer::CloseForGood() {
  if (!device_) return;
  device_->Close();
  device_.reset();
}

bool CRecordingMixer::QueryDestination(int* source_count) {
  if (!device_) return false;
  if (device_->QueryDestination(source_count)) {
    CloseForGood();
    return false;
  }
  return true;
}

bool CRecordingMixer::QuerySource(int index, MixerLine* line) {
  if (!device_) return false;
  if (device_->QuerySource(index, line)) {
    CloseForGood();
    return false;
  }
  return true;
}

void CRecordingMixer::OpenRecordingMixer() {
  if (device_ || !factory_) return;
  device_ = factory_();
  if (!device_) return;
  if (device_->Open()) {
    device_.reset();  // no sound server: no mixer for this run
    return;
  }
  int count = 0;
  if (!QueryDestination(&count)) return;
  for (int i = 0; i < count; ++i) {
    MixerLine line;
    if (!QuerySource(i, &line)) continue;
    std::vector<std::uint32_t> ignored;
    if (line.has_volume) device_->GetVolume(i, &ignored);
  }
}

unsigned CRecordingMixer::BuildSourceList(SourceListPanel& panel) {
  return FillSourceList(panel, {}, true);
}

unsigned CRecordingMixer::FillSourceList(SourceListPanel& panel, const std::string& keep,
                                         bool may_choose) {
  selected_ = -1;
  ids_.clear();
  int lines = 0;
  if (!device_ || device_->QueryDestination(&lines)) return 0;
  const int count = std::max(lines, 1);
  panel.SetExtent(kSourceExtentPerRow * count);

  std::vector<bool> created(count, false);
  std::vector<std::string> names(count);
  ids_.resize(count);
  // A destination without source lines counts one row, which is never made.
  for (int i = 0; i < lines; ++i) {
    MixerLine line;
    if (!QuerySource(i, &line)) continue;
    const int top = kSourceRowPitch * i + kSourceRowTop;
    panel.CreateItem(i, CutUtf8(line.name, kSourceNameMaxBytes),
                     {kSourceRowLeft, top, kSourceRowRight, top + kSourceRowHeight});
    created[i] = true;
    names[i] = line.name;
    ids_[i] = line.id;
    if (!keep.empty() && line.id == keep) {
      panel.CheckItem(i);
      selected_ = i;
    }
  }
  if (selected_ < 0 && device_) {
    if (may_choose)
      Preselect(panel, created, names);
    else
      choice_due_ = true;
  }
  return static_cast<unsigned>(count);
}

void CRecordingMixer::Preselect(SourceListPanel& panel, const std::vector<bool>& created,
                                const std::vector<std::string>& names) {
  const int count = static_cast<int>(created.size());
  bool preselected = false;
  for (int i = 0; i < count; ++i) {
    if (created[i] && NamesWaveOutMix(names[i])) {  // the last one that matches wins
      panel.CheckItem(i);
      selected_ = i;
      preselected = true;
      SelectSource(i);
    }
  }
  // A lone source is the one, whatever its name.
  if (count == 1 && created[0]) {
    panel.CheckItem(0);
    selected_ = 0;
    preselected = true;
    SelectSource(0);
  }
  // Several sources and none that matched: the one the server records from now, so that the
  // list shows a choice and the volume slider has a source to act on.
  if (!preselected && count > 1 && device_) {
    std::vector<bool> items;
    if (!device_->GetMux(&items) && static_cast<int>(items.size()) == count) {
      for (int k = 0; k < count; ++k) {
        const int source = count - 1 - k;
        if (!items[k] || !created[source]) continue;
        panel.CheckItem(source);
        selected_ = source;
        SelectSource(source);
        break;
      }
    }
  }
}

CRecordingMixer::ListUpdate CRecordingMixer::UpdateSourceList(SourceListPanel& panel,
                                                              bool may_choose) {
  const std::string before =
      selected_ >= 0 && selected_ < static_cast<int>(ids_.size()) ? ids_[selected_] : std::string();
  bool changed = false;
  if (!device_) {
    if (!factory_ || ++updates_without_mixer_ < kUpdatesPerReopen) return {};
    updates_without_mixer_ = 0;
    OpenRecordingMixer();
    if (!device_) return {};
    changed = true;
  } else {
    changed = device_->TakeSourceChanges();
  }
  if (!changed && !(choice_due_ && may_choose)) return {};
  choice_due_ = false;

  panel.RemoveItems();
  int lines = 0;
  if (!QueryDestination(&lines)) {
    // The server went away: no sources to show until it is back.
    panel.SetExtent(0);
    selected_ = -1;
    ids_.clear();
  } else {
    FillSourceList(panel, before, may_choose);
  }
  const std::string now = selected_ >= 0 ? ids_[selected_] : std::string();
  return {true, now != before};
}

int CRecordingMixer::SelectSource(int index) {
  int destination_lines = 0;
  if (!device_ || device_->QueryDestination(&destination_lines)) return -1;
  std::vector<bool> items;
  if (device_->GetMux(&items)) return -1;
  const int count = static_cast<int>(items.size());
  if (index < 0 || index >= count) return -1;
  int before = -1;
  for (int k = 0; k < count; ++k) {
    if (items[k]) before = k;
    items[k] = false;
  }
  items[count - 1 - index] = true;
  // Only a choice the mixer took counts: a source that has gone is not selected.
  if (device_->SetMux(items)) return -1;
  selected_ = index;
  return before;
}

unsigned CRecordingMixer::GetSourceVolume() {
  int count = 0;
  if (!QueryDestination(&count) || selected_ < 0) return 0;
  MixerLine line;
  if (!QuerySource(selected_, &line) || !line.has_volume) return 0;
  std::vector<std::uint32_t> channels;
  if (device_->GetVolume(selected_, &channels) || channels.empty()) return 0;
  const std::uint32_t v = channels.front();
  return v * 100u / kVolumeFullScale;
}

int CRecordingMixer::SetSourceVolume(int percent) {
  int count = 0;
  if (!QueryDestination(&count) || selected_ < 0) return -1;
  MixerLine line;
  if (!QuerySource(selected_, &line)) return -1;
  if (!line.has_volume) return 100;
  // The slider reaches 200; the server's normal volume is as loud as a source goes here.
  percent = std::clamp(percent, 0, 100);
  const auto v =
      static_cast<std::uint32_t>(percent * static_cast<std::int32_t>(kVolumeFullScale) / 100);
  const std::vector<std::uint32_t> channels(static_cast<std::size_t>(std::max(line.channels, 1)),
                                            v);
  if (device_->SetVolume(selected_, channels)) return -1;
  return percent;
}

}  // namespace vt::audio
