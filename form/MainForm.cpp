#include "form/MainForm.h"

#include <algorithm>
#include <string>

#include "base/Error.h"

namespace quelvar {

namespace {

constexpr int kNone = MainForm::kNoTabOrder;
constexpr std::string_view kWindow = MainForm::kName;

constexpr std::string_view kTestarPortas = "Testar Portas";
constexpr std::string_view kUsaHttps = "Usa Conex\u00e3o Segura (HTTPS)";
constexpr std::string_view kConfigHint = "Carrega do arquivo config.js do lumora_web";
constexpr std::string_view kWebExternoHint =
    "Sem colocar o http/https na frente, esse seria o link de acesso pelo navegador ao Lumora "
    "Web.\r\nExemplo: lumora.example.com:10446\r\nIP Externo: Porta (se tiver)";
constexpr std::string_view kWebInternoHint =
    "Sem colocar o http/https na frente, esse seria o link de acesso pelo navegador ao Lumora "
    "Web.\r\nExemplo: 192.168.0.10\r\nIP Interno: Porta (se tiver)";
constexpr std::string_view kWhatsExternoHint =
    "Sem colocar o http/https na frente, esse seria o IP e Porta Externo em que a API do "
    "WhatsApp est\u00e1 instalada.\r\nExemplo: whatsapp.example.com:21465\r\nIP Externo: Porta";
constexpr std::string_view kWhatsInternoHint =
    "Sem colocar o http/https na frente, esse seria o IP e Porta Interno em que a API do "
    "WhatsApp est\u00e1 instalada.\r\nExemplo: 192.168.0.20:21465\r\nIP Interno: Porta";

// The tab control's display area, where its sheets lie: 637 by 281 inside its 645 by 309.
constexpr FormRect kSheet{4, 24, 637, 281};
// A sheet's container fills the sheet.
constexpr FormRect kSheetPanel{0, 0, 637, 281};
constexpr FormRect kLog{412, 13, 221, 265};

constexpr FormControl component(std::string_view name) {
    return {name, ControlKind::Component, {}, {}, {}, {}, kNone, false, true, false};
}

constexpr FormControl control(std::string_view name, ControlKind kind, std::string_view parent,
                              FormRect rect, std::string_view caption = {}, int tabOrder = kNone) {
    return {name, kind, parent, rect, caption, {}, tabOrder, true, true, false};
}

constexpr FormControl edit(std::string_view name, std::string_view parent, FormRect rect,
                           std::string_view label, std::string_view hint, int tabOrder,
                           bool readOnly) {
    return {name,    ControlKind::LabeledEdit, parent, rect, label, hint, tabOrder, true, true,
            readOnly};
}

constexpr FormControl indicator(std::string_view name, ControlKind colour, std::string_view parent,
                                FormRect rect) {
    return {name, colour, parent, rect, {}, {}, kNone, false, true, false};
}

constexpr ControlKind kGreen = ControlKind::GreenIndicator;
constexpr ControlKind kRed = ControlKind::RedIndicator;

constexpr FormControl sheet(std::string_view name, std::string_view caption, bool front) {
    FormControl row = control(name, ControlKind::TabSheet, "PageControl1", kSheet, caption);
    row.visible = front;
    return row;
}

constexpr FormControl disabled(FormControl row) {
    row.enabled = false;
    return row;
}

constexpr FormControl kControls[] = {
    component("RESTClient1"),
    component("RESTRequest1"),
    component("RESTResponse1"),
    control("Panel1", ControlKind::Container, kWindow,
            {0, 0, MainForm::kClientWidth, MainForm::kClientHeight}),
    control("PageControl1", ControlKind::TabControl, "Panel1",
            {0, 0, MainForm::kClientWidth, MainForm::kClientHeight}),
    sheet("TabSheet1", "API Web", false),
    sheet("TabSheet2", "Lumora Web", false),
    sheet("TabSheet3", "Whatsapp", true),
    control("Panel2", ControlKind::BevelPanel, "TabSheet1", kSheetPanel),
    control("Panel3", ControlKind::BevelPanel, "TabSheet2", kSheetPanel),
    control("Panel4", ControlKind::BevelPanel, "TabSheet3", kSheetPanel),
    // API Web. Its fields are filled from config.js only: read-only, and the box disabled.
    control("GroupBox1", ControlKind::GroupBox, "Panel2", {12, 0, 394, 150}, "API WEB", 0),
    control("btnTestarPortasApi", ControlKind::Button, "GroupBox1", {286, 71, 91, 33},
            kTestarPortas),
    edit("edtApiInterno", "GroupBox1", {103, 44, 260, 21}, "IP/Porta Interno:", kConfigHint, 0,
         true),
    edit("edtApiExterno", "GroupBox1", {103, 21, 260, 21}, "IP/Porta Externo:", kConfigHint, 1,
         true),
    disabled(control("cbApiHttps", ControlKind::CheckBox, "GroupBox1", {103, 68, 177, 17},
                     kUsaHttps, 2)),
    control("memoAPILog", ControlKind::LogBox, "Panel2", kLog, {}, 1),
    // Lumora Web.
    control("GroupBox2", ControlKind::GroupBox, "Panel3", {12, 7, 394, 143}, "Lumora Web", 0),
    control("btnTestarPortasWeb", ControlKind::Button, "GroupBox2", {294, 69, 91, 33},
            kTestarPortas),
    edit("edtWebExterno", "GroupBox2", {103, 20, 260, 21}, "IP/Porta Externa:", kWebExternoHint, 0,
         false),
    edit("edtWebInterno", "GroupBox2", {103, 42, 260, 21}, "IP/Porta Interna:", kWebInternoHint, 1,
         false),
    control("cbWebHttps", ControlKind::CheckBox, "GroupBox2", {103, 66, 177, 17}, kUsaHttps, 2),
    control("memoWebLog", ControlKind::LogBox, "Panel3", kLog, {}, 1),
    // Whatsapp: the log box comes first in its container.
    control("memoWhatsLog", ControlKind::LogBox, "Panel4", kLog, {}, 0),
    control("GroupBox3", ControlKind::GroupBox, "Panel4", {12, 13, 394, 143}, "Whatsapp", 1),
    control("btnTestarPortasWhats", ControlKind::Button, "GroupBox3", {294, 69, 91, 33},
            kTestarPortas),
    edit("edtWhatsExterno", "GroupBox3", {103, 20, 260, 21}, "IP/Porta Externa:", kWhatsExternoHint,
         0, false),
    edit("edtWhatsInterno", "GroupBox3", {103, 42, 260, 21}, "IP/Porta Interna:", kWhatsInternoHint,
         1, false),
    control("cbWhatsHttps", ControlKind::CheckBox, "GroupBox3", {103, 66, 177, 17}, kUsaHttps, 2),
    // The indicators: each pair lies on top of itself, right of the field whose result it
    // shows. The red one of the web tab's external pair is one pixel narrower.
    indicator("imgApiExtGreen", kGreen, "GroupBox1", {365, 21, 20, 21}),
    indicator("imgApiExtRed", kRed, "GroupBox1", {365, 21, 20, 21}),
    indicator("imgApiIntRed", kRed, "GroupBox1", {365, 44, 20, 21}),
    indicator("imgApiIntGreen", kGreen, "GroupBox1", {365, 44, 20, 21}),
    indicator("imgWebIntGreen", kGreen, "GroupBox2", {365, 42, 20, 21}),
    indicator("imgWebExtRed", kRed, "GroupBox2", {365, 20, 19, 21}),
    indicator("imgWebExtGreen", kGreen, "GroupBox2", {365, 20, 20, 21}),
    indicator("imgWebIntRed", kRed, "GroupBox2", {365, 42, 20, 21}),
    indicator("imgWhatsIntRed", kRed, "GroupBox3", {364, 42, 20, 21}),
    indicator("imgWhatsExtGreen", kGreen, "GroupBox3", {364, 20, 20, 21}),
    indicator("imgWhatsExtRed", kRed, "GroupBox3", {364, 20, 20, 21}),
    indicator("imgWhatsIntGreen", kGreen, "GroupBox3", {364, 42, 20, 21}),
};

constexpr FormTab kTabs[] = {
    {CheckKind::Api,
     "TabSheet1",
     "btnTestarPortasApi",
     "edtApiExterno",
     "edtApiInterno",
     "cbApiHttps",
     "memoAPILog",
     {"imgApiExtGreen", "imgApiExtRed", "imgApiIntGreen", "imgApiIntRed"}},
    {CheckKind::Web,
     "TabSheet2",
     "btnTestarPortasWeb",
     "edtWebExterno",
     "edtWebInterno",
     "cbWebHttps",
     "memoWebLog",
     {"imgWebExtGreen", "imgWebExtRed", "imgWebIntGreen", "imgWebIntRed"}},
    {CheckKind::Whats,
     "TabSheet3",
     "btnTestarPortasWhats",
     "edtWhatsExterno",
     "edtWhatsInterno",
     "cbWhatsHttps",
     "memoWhatsLog",
     {"imgWhatsExtGreen", "imgWhatsExtRed", "imgWhatsIntGreen", "imgWhatsIntRed"}},
};

}  // namespace

std::span<const FormControl> MainForm::controls() {
    return kControls;
}

const FormControl& MainForm::control(std::string_view name) {
    for (const FormControl& row : kControls) {
        if (row.name == name) {
            return row;
        }
    }
    throw Error("No member of the main window is named " + std::string(name));
}

std::vector<const FormControl*> MainForm::childrenOf(std::string_view parent) {
    std::vector<const FormControl*> children;
    for (const FormControl& row : kControls) {
        if (row.kind != ControlKind::Component && row.parent == parent) {
            children.push_back(&row);
        }
    }
    return children;
}

std::vector<const FormControl*> MainForm::tabOrderOf(std::string_view parent) {
    std::vector<const FormControl*> ordered = childrenOf(parent);
    std::erase_if(ordered, [](const FormControl* row) { return row->tabOrder == kNoTabOrder; });
    std::stable_sort(
        ordered.begin(), ordered.end(),
        [](const FormControl* a, const FormControl* b) { return a->tabOrder < b->tabOrder; });
    return ordered;
}

int MainForm::sheetIndex(std::string_view name) {
    int index = 0;
    for (const FormControl& row : kControls) {
        if (row.kind == ControlKind::TabSheet) {
            if (row.name == name) {
                return index;
            }
            ++index;
        }
    }
    throw Error("No tab sheet of the main window is named " + std::string(name));
}

const FormTab& MainForm::tab(CheckKind kind) {
    for (const FormTab& each : kTabs) {
        if (each.kind == kind) {
            return each;
        }
    }
    throw Error("No tab of the main window has that check kind");
}

}  // namespace quelvar
