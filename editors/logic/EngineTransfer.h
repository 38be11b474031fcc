// How the dialog components give an editor's private engine its copy of a host engine.
#pragma once

namespace ie {

class TInferenceEngine;

// The copy an editor works on: the engine's Assign with the Rete network of `dest` switched off
// while the copy runs (so facts reach no pattern and no activation is made) and back on
// afterwards, also when the copy raised; `dest` then checks types statically and dynamically.
void CopyEngineForEditing(TInferenceEngine& dest, TInferenceEngine& source);

} // namespace ie
