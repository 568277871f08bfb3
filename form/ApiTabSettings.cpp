#include "form/ApiTabSettings.h"

#include "form/MainForm.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsTarget.h"

namespace quelvar {

void readApiTabSettings(
    const std::function<void(std::string_view field, const std::u16string& text)>& setText,
    const std::function<void(std::string_view box, bool checked)>& setChecked) {
    class Target : public SettingsTarget {
    public:
        Target(const decltype(setText)& text, const decltype(setChecked)& checked)
            : m_setText(text), m_setChecked(checked) {}
        void setUsaHttps(bool checked) override { m_setChecked(m_tab.https, checked); }
        void setIpExterno(const std::u16string& text) override { m_setText(m_tab.externo, text); }
        void setIpInterno(const std::u16string& text) override { m_setText(m_tab.interno, text); }

    private:
        const FormTab& m_tab = MainForm::tab(CheckKind::Api);
        const decltype(setText)& m_setText;
        const decltype(setChecked)& m_setChecked;
    };
    Target target(setText, setChecked);
    SettingsFile::read(SettingsFile::besideExecutable(), target);
}

}  // namespace quelvar
