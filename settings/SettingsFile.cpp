#include "settings/SettingsFile.h"

#include "settings/BlockDecoder.h"
#include "settings/LineReader.h"
#include "settings/LockedFile.h"
#include "settings/MarkerRules.h"

namespace quelvar {

void SettingsFile::read(const std::filesystem::path& path, SettingsTarget& target) {
    LockedFile file(path);
    BlockDecoder decoder(file);
    LineReader lines(decoder);
    while (!lines.atEnd()) {
        applyMarkers(lines.readLine(), target);
    }
}

}  // namespace quelvar
