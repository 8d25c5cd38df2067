#pragma once

#include <QStringView>

namespace pimsel {

// Orders release versions the way people read them: numeric components compare as numbers
// ("1.10" after "1.9"), missing components count as zero ("1.2" == "1.2.0"), a leading "v" is
// ignored, and a pre-release ("-beta.2", "-rc.1", or letters glued on as in "1.2b3") sorts before
// its release ("1.2.0-beta.2" < "1.2.0-rc.1" < "1.2.0"). Build metadata after "+" is ignored.
// Any text is accepted; what cannot be read as a number counts as zero.
// Returns a negative number, zero or a positive number as `a` is older than, equal to or newer
// than `b`.
int compareVersions(QStringView a, QStringView b);

inline bool isNewerVersion(QStringView candidate, QStringView current) {
    return compareVersions(candidate, current) > 0;
}

} // namespace pimsel
