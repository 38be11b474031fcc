// How the dialog components move tables between a host engine and an editor's private engine,
// where the engine's own copy operations do not do what an editor needs.
#pragma once

namespace ie {

class TInferenceEngine;

// The copy an editor works on: the engine's Assign with the Rete network of `dest` switched off
// while the copy runs (so facts reach no pattern and no activation is made) and back on
// afterwards, also when the copy raised; `dest` then checks types statically and dynamically.
void CopyEngineForEditing(TInferenceEngine& dest, TInferenceEngine& source);

// Replaces the receiving engine's defined types by the source's type by type: a type both
// have is replaced in place, one the source lacks is removed, a new one added. Unlike the type
// table's Assign, which starts with a clear (and so clears the fact templates with their facts
// and rules), this leaves the templates, facts and rules of the receiving engine in place.
void AssignDefinedTypes(TInferenceEngine& dest, TInferenceEngine& source);

// Asserts a copy of each fact of `source` into `dest`, in fact order, keeping what is there;
// each copy takes `dest`'s template of the same name. The fact list's Assign would clear first,
// which the facts dialog has already done once.
void AddFacts(TInferenceEngine& dest, TInferenceEngine& source);

} // namespace ie
