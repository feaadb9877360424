// The static strings by which the host knows this plug-in. The host's
// interface hands them out as char*, so they are not declared const; nothing
// writes to them.
#pragma once

// "Brellix: AVI output ", returned by _AVS_APE_RetrFunc.
extern char identifierString[21];
// "Quorvane / AVI output ", copied by createEffect and returned by getDescription.
extern char moduleNameString[23];
