// The recording mixer as the recorder uses it: which source feeds the recording and how loud.
// The source list panel is filled with one row per source; a name that holds "Wave Out Mix" (any
// letter case) is preselected, a lone source is preselected whatever its name, and otherwise the
// source the server records from now. Volumes are percentages, 100 standing for the value
// kVolumeFullScale.
//
// When opening the mixer or querying its destination or a source line fails, the mixer is closed:
// every later operation does nothing (quietly) until an update of the list finds the server again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/mixer_device.h"

namespace vt::audio {

// The volume value that stands for 100 percent.
inline constexpr std::uint32_t kVolumeFullScale = 65532;
// A row of the source list: 16 pixels high on a pitch of 19; the list's height counts 20 per
// source.
inline constexpr int kSourceRowPitch = 19;
inline constexpr int kSourceRowHeight = 16;
inline constexpr int kSourceRowTop = 3;
inline constexpr int kSourceRowLeft = 5;
inline constexpr int kSourceRowRight = 400;
inline constexpr int kSourceExtentPerRow = 20;
// Source names are cut to this many bytes (on a character boundary).
inline constexpr std::size_t kSourceNameMaxBytes = 63;

// In the panel's coordinates, right and bottom exclusive.
struct SourceItemRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// What the mixer needs of the list it fills.
class SourceListPanel {
 public:
  virtual ~SourceListPanel() = default;
  // The height of the whole list in pixels.
  virtual void SetExtent(int height) = 0;
  // Takes every item away, for a list made again.
  virtual void RemoveItems() = 0;
  virtual void CreateItem(int index, const std::string& caption, SourceItemRect rect) = 0;
  // Checks item `index` and unchecks the one checked before; nothing for an item never created.
  virtual void CheckItem(int index) = 0;
};

// A UTF-8 name cut to at most `max_bytes` bytes without splitting a character.
std::string CutUtf8(std::string text, std::size_t max_bytes);
// True when the name holds "wave out mix" in any letter case.
bool NamesWaveOutMix(const std::string& name);

class CRecordingMixer {
 public:
  // factory: makes the platform mixer (null: there is none).
  explicit CRecordingMixer(MixerDeviceFactory factory);
  ~CRecordingMixer();
  CRecordingMixer(const CRecordingMixer&) = delete;
  CRecordingMixer& operator=(const CRecordingMixer&) = delete;

  // Once, while the recorder window is set up.
  void OpenRecordingMixer();
  // Fills the panel with one item per source and preselects one; returns the item count (0 when
  // there is no mixer).
  unsigned BuildSourceList(SourceListPanel& panel);

  // What an update of the list did.
  struct ListUpdate {
    bool rows_changed = false;       // the items were made again
    bool selection_changed = false;  // another source, or none, is selected now
  };
  // Brings the panel up to date with the server's sources; the window calls it a few times a
  // second. The selected source stays selected while it is listed. When it has gone, the
  // preselection rule picks among the sources listed now, but only when `may_choose`: a running
  // recording must never go on from another input, so then no item is checked until an update
  // that may choose. Without a mixer (no server, or it went away) one is opened again every
  // kUpdatesPerReopen updates.
  ListUpdate UpdateSourceList(SourceListPanel& panel, bool may_choose);
  static constexpr int kUpdatesPerReopen = 8;
  // Makes source `index` the recorder's source. Returns the multiplexer item that was chosen
  // before, or -1. SelectedSource() becomes `index` only when the choice was made.
  int SelectSource(int index);
  // The selected source's volume in percent (0 without a selection or a readable volume).
  unsigned GetSourceVolume();
  // Sets every channel of the selected source to `percent` (0 ... 100; more counts as 100).
  // Returns the percentage written, -1 when the write failed, 100 when the source has no volume.
  int SetSourceVolume(int percent);

  int SelectedSource() const { return selected_; }
  // False once the failure rule has closed the mixer, or when it never opened.
  bool Available() const { return device_ != nullptr; }

 private:
  // Queries that close the mixer for good when they fail.
  bool QueryDestination(int* source_count);
  bool QuerySource(int index, MixerLine* line);
  void CloseForGood();
  // Makes one item per source; checks the one of `keep` when it is listed, else preselects one
  // when `may_choose`. Returns the item count.
  unsigned FillSourceList(SourceListPanel& panel, const std::string& keep, bool may_choose);
  // The preselection rule among the items made (`names`: their sources' names).
  void Preselect(SourceListPanel& panel, const std::vector<bool>& created,
                 const std::vector<std::string>& names);

  MixerDeviceFactory factory_;
  std::unique_ptr<MixerDevice> device_;
  int selected_ = -1;
  std::vector<std::string> ids_;  // the server's name of each item's source
  bool choice_due_ = false;       // the selected source went while no choice could be made
  int updates_without_mixer_ = 0;
};

}  // namespace vt::audio
