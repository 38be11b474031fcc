// How the dialog components give an editor's private engine its copy of a host engine.
#pragma once

namespace ie {

class TInferenceEngine;

// The copy an editor works on: the engine's Assign with the Rete network of `dest` switched off
// while the copy runs (so facts reach no pattern and no activation is made) and back on
// afterwards, also when the copy raised; `dest` then checks types statically and dynamically.
void CopyEngineForEditing(TInferenceEngine& dest, TInferenceEngine& source);

// After `copy` was assigned from `source`: what fired in the source counts as fired in the copy.
// The copy's network matched every fact anew and filed an activation for each match, including
// the matches whose rules fired in the source already; those leave the copy's agenda, so that
// only what waits in the source's agenda waits in the copy's (an activation is the same when its
// rule has the same name and its facts the same texts), and a one-shot rule that fired there is
// fired here.
void KeepFiredAsFired(TInferenceEngine& copy, TInferenceEngine& source);

// Writes `edited` back into `host` (host.Assign) all or nothing: when the copy fails half-way,
// the host gets back everything it had, and the failure passes on.
void WriteBackWhole(TInferenceEngine& host, TInferenceEngine& edited);

} // namespace ie
