// The global constant values: shared by every function, never changed.
#pragma once

#include "engine/model/IEInterfaces.h"

namespace ie {

const TRefPtr<IIEValue>& IETrueValue();
const TRefPtr<IIEValue>& IEFalseValue();
const TRefPtr<IIEValue>& IEEmptyAtom();
const TRefPtr<IIEValue>& IEEmptyList();
const TRefPtr<IIEValue>& IECatchAtom();
const TRefPtr<IIEValue>& IEExceptAtom();
const TRefPtr<IIEValue>& IEFinallyAtom();
const TRefPtr<IIEValue>& IEElseAtom();
const TRefPtr<IIEValue>& IEDoAtom();
const TRefPtr<IIEValue>& IEEOFAtom();
const TRefPtr<IIEValue>& IEThenAtom();
const TRefPtr<IIEValue>& IEPiValue();
const TRefPtr<IIEValue>& IEBlankAtom(); // the second empty atom
const TRefPtr<IIEValue>& IEZeroValue();
inline const TRefPtr<IIEValue>& IEBoolValue(bool b) {
    return b ? IETrueValue() : IEFalseValue();
}
// True when the value is one of the fourteen global constants.
bool IsGlobalConstant(const IIEValue* value) noexcept;

// A condition is false only when its value is the atom FALSE.
bool IsFalseValue(const IIEValue* value) noexcept;

} // namespace ie
