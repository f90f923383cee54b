// The recorder window's list of recording sources: the scrolling list filled from the recording
// mixer, and the recording volume slider that follows the chosen source.
#pragma once

#include <functional>
#include <string>

#include "audio/recording_mixer.h"
#include "skin/cool_slider.h"
#include "skin/scrollable_dialog.h"

namespace vt {

// Fills `list` from the mixer (which preselects a source) and connects both ways: a click on a
// row selects its source, places the slider at that source's volume and then checks the row; a
// move of the slider sets the selected source's volume. The slider shows the selected source's
// volume when this returns (it stays as it was when no source is selected). `on_chosen` hears
// the caption of each row the user chooses. Returns the number of rows counted.
unsigned ConnectSourceList(audio::CRecordingMixer& mixer, CScrollableDialog& list,
                           CCoolSlider& volume,
                           std::function<void(const std::string&)> on_chosen = {});

// Brings the list up to date with the server's sources, which come and go (see
// CRecordingMixer::UpdateSourceList); the slider moves to the volume of a source selected in
// place of one that went. For the window's timer; `may_choose` is false while a recording runs.
void FollowSourceChanges(audio::CRecordingMixer& mixer, CScrollableDialog& list,
                         CCoolSlider& volume, bool may_choose);

}  // namespace vt
