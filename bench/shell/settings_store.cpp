#include "settings_store.h"

#include <QSettings>

namespace qx4bench {
namespace {

// Organisation and application names are set by the application at start-up.
struct Section {
    QSettings settings;
    Section() { settings.beginGroup(kSettingsSection); }
};

} // namespace

int ReadSettingInt(const char* key, int defaultValue) {
    Section section;
    bool ok = false;
    const int value = section.settings.value(key).toInt(&ok);
    return ok ? value : defaultValue;
}

QString ReadSettingText(const char* key, const QString& defaultValue) {
    Section section;
    const QVariant value = section.settings.value(key);
    return value.isValid() ? value.toString() : defaultValue;
}

bool WriteSettingInt(const char* key, int value) {
    Section section;
    section.settings.setValue(key, value);
    section.settings.sync();
    return section.settings.status() == QSettings::NoError;
}

bool WriteSettingText(const char* key, const QString& value) {
    Section section;
    section.settings.setValue(key, value);
    section.settings.sync();
    return section.settings.status() == QSettings::NoError;
}

} // namespace qx4bench
