// The form of the main window against values copied from the window's description: the
// member list, a few rectangles, every text and hint, the tab orders and the initial states;
// and the rules that tie the rows together. The window tests check each window against the
// form; these keep a wrong form from passing both.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "form/MainForm.h"
#include "form/MainFormEvents.h"
#include "form/TestaPortas.h"
#include "tests/form/RunScenarios.h"
#include "tests/form/TabCycle.h"

namespace quelvar {
namespace {

using Names = std::vector<std::string_view>;

Names namesOf(const std::vector<const FormControl*>& rows) {
    Names names;
    for (const FormControl* row : rows) {
        names.push_back(row->name);
    }
    return names;
}

Names namesOfKind(ControlKind kind) {
    Names names;
    for (const FormControl& row : MainForm::controls()) {
        if (row.kind == kind) {
            names.push_back(row.name);
        }
    }
    return names;
}

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string_view::npos;
         end = text.find("\r\n", start)) {
        lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

TEST(MainFormTest, WindowAndMembersInDeclarationOrder) {
    EXPECT_EQ(MainForm::kName, "fmPrincipal");
    EXPECT_EQ(MainForm::kClassName, "TfmPrincipal");
    EXPECT_EQ(MainForm::kCaption, "Quelvar - WEB");
    EXPECT_EQ(MainForm::kClientWidth, 645);
    EXPECT_EQ(MainForm::kClientHeight, 309);
    EXPECT_EQ(MainForm::kLabelSpacing, 3);
    EXPECT_EQ(MainForm::kFrontSheet, "TabSheet3");

    const Names declared = {
        "RESTClient1",
        "RESTRequest1",
        "RESTResponse1",
        "Panel1",
        "PageControl1",
        "TabSheet1",
        "TabSheet2",
        "TabSheet3",
        "Panel2",
        "Panel3",
        "Panel4",
        "GroupBox1",
        "btnTestarPortasApi",
        "edtApiInterno",
        "edtApiExterno",
        "cbApiHttps",
        "memoAPILog",
        "GroupBox2",
        "btnTestarPortasWeb",
        "edtWebExterno",
        "edtWebInterno",
        "cbWebHttps",
        "memoWebLog",
        "memoWhatsLog",
        "GroupBox3",
        "btnTestarPortasWhats",
        "edtWhatsExterno",
        "edtWhatsInterno",
        "cbWhatsHttps",
        "imgApiExtGreen",
        "imgApiExtRed",
        "imgApiIntRed",
        "imgApiIntGreen",
        "imgWebIntGreen",
        "imgWebExtRed",
        "imgWebExtGreen",
        "imgWebIntRed",
        "imgWhatsIntRed",
        "imgWhatsExtGreen",
        "imgWhatsExtRed",
        "imgWhatsIntGreen",
    };
    Names names;
    for (const FormControl& row : MainForm::controls()) {
        names.push_back(row.name);
    }
    EXPECT_EQ(names, declared);

    // Every parent is the window or a member made before its children.
    std::set<std::string_view> made{MainForm::kName};
    for (const FormControl& row : MainForm::controls()) {
        SCOPED_TRACE(std::string(row.name));
        if (row.kind == ControlKind::Component) {
            EXPECT_TRUE(row.parent.empty());
        } else {
            EXPECT_TRUE(made.contains(row.parent)) << row.parent;
        }
        made.insert(row.name);
        EXPECT_EQ(&MainForm::control(row.name), &row);
    }
    EXPECT_EQ(namesOfKind(ControlKind::Component),
              (Names{"RESTClient1", "RESTRequest1", "RESTResponse1"}));
    EXPECT_THROW(MainForm::control("Panel5"), std::exception);
}

TEST(MainFormTest, ContainmentAndKinds) {
    struct Row {
        std::string_view name;
        ControlKind kind;
        std::string_view parent;
    };
    const Row rows[] = {
        {"Panel1", ControlKind::Container, "fmPrincipal"},
        {"PageControl1", ControlKind::TabControl, "Panel1"},
        {"TabSheet1", ControlKind::TabSheet, "PageControl1"},
        {"TabSheet3", ControlKind::TabSheet, "PageControl1"},
        {"Panel2", ControlKind::BevelPanel, "TabSheet1"},
        {"Panel3", ControlKind::BevelPanel, "TabSheet2"},
        {"Panel4", ControlKind::BevelPanel, "TabSheet3"},
        {"GroupBox2", ControlKind::GroupBox, "Panel3"},
        {"memoWhatsLog", ControlKind::LogBox, "Panel4"},
        {"edtApiInterno", ControlKind::LabeledEdit, "GroupBox1"},
        {"cbWhatsHttps", ControlKind::CheckBox, "GroupBox3"},
        {"btnTestarPortasWeb", ControlKind::Button, "GroupBox2"},
        {"imgWebExtRed", ControlKind::RedIndicator, "GroupBox2"},
        {"imgWhatsIntGreen", ControlKind::GreenIndicator, "GroupBox3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name));
        EXPECT_EQ(MainForm::control(row.name).kind, row.kind);
        EXPECT_EQ(MainForm::control(row.name).parent, row.parent);
    }
    EXPECT_EQ(namesOf(MainForm::childrenOf("PageControl1")),
              (Names{"TabSheet1", "TabSheet2", "TabSheet3"}));
    EXPECT_EQ(MainForm::sheetIndex("TabSheet1"), 0);
    EXPECT_EQ(MainForm::sheetIndex("TabSheet3"), 2);
    EXPECT_THROW(MainForm::sheetIndex("Panel2"), std::exception);
    // Each group box holds its tab's fields, check box, button and four indicators.
    for (std::string_view box : {"GroupBox1", "GroupBox2", "GroupBox3"}) {
        EXPECT_EQ(MainForm::childrenOf(box).size(), 8u) << box;
    }
    // The indicators' colours follow their names.
    for (const FormControl& row : MainForm::controls()) {
        if (row.kind == ControlKind::GreenIndicator || row.kind == ControlKind::RedIndicator) {
            EXPECT_EQ(row.name.ends_with("Green"), row.kind == ControlKind::GreenIndicator)
                << row.name;
        }
    }
}

TEST(MainFormTest, Rectangles) {
    struct Row {
        std::string_view name;
        FormRect rect;
    };
    const Row rows[] = {
        {"Panel1", {0, 0, 645, 309}},
        {"PageControl1", {0, 0, 645, 309}},
        {"Panel2", {0, 0, 637, 281}},
        {"Panel4", {0, 0, 637, 281}},
        {"GroupBox1", {12, 0, 394, 150}},
        {"GroupBox2", {12, 7, 394, 143}},
        {"GroupBox3", {12, 13, 394, 143}},
        {"edtApiExterno", {103, 21, 260, 21}},
        {"edtApiInterno", {103, 44, 260, 21}},
        {"edtWhatsInterno", {103, 42, 260, 21}},
        {"cbApiHttps", {103, 68, 177, 17}},
        {"cbWebHttps", {103, 66, 177, 17}},
        {"btnTestarPortasApi", {286, 71, 91, 33}},
        {"btnTestarPortasWhats", {294, 69, 91, 33}},
        {"imgApiIntRed", {365, 44, 20, 21}},
        {"imgWebExtGreen", {365, 20, 20, 21}},
        {"imgWebExtRed", {365, 20, 19, 21}},
        {"imgWhatsExtGreen", {364, 20, 20, 21}},
        {"memoAPILog", {412, 13, 221, 265}},
        {"memoWhatsLog", {412, 13, 221, 265}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name));
        const FormRect& rect = MainForm::control(row.name).rect;
        EXPECT_EQ(rect, row.rect) << rect.left << "," << rect.top << " " << rect.width << "x"
                                  << rect.height;
    }
    // The sheets are 637 by 281, the size of their containers.
    for (std::string_view sheet : {"TabSheet1", "TabSheet2", "TabSheet3"}) {
        EXPECT_EQ(MainForm::control(sheet).rect.width, 637);
        EXPECT_EQ(MainForm::control(sheet).rect.height, 281);
    }
    // The two indicators of a pair cover the same square, but for the web tab's external red
    // one, one pixel narrower.
    const std::pair<std::string_view, std::string_view> pairs[] = {
        {"imgApiExtGreen", "imgApiExtRed"},     {"imgApiIntGreen", "imgApiIntRed"},
        {"imgWebIntGreen", "imgWebIntRed"},     {"imgWhatsExtGreen", "imgWhatsExtRed"},
        {"imgWhatsIntGreen", "imgWhatsIntRed"},
    };
    for (const auto& [green, red] : pairs) {
        EXPECT_EQ(MainForm::control(green).rect, MainForm::control(red).rect) << green;
    }
    FormRect narrower = MainForm::control("imgWebExtGreen").rect;
    narrower.width -= 1;
    EXPECT_EQ(MainForm::control("imgWebExtRed").rect, narrower);
}

TEST(MainFormTest, CaptionsAndLabels) {
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"TabSheet1", "API Web"},
        {"TabSheet2", "Lumora Web"},
        {"TabSheet3", "Whatsapp"},
        {"GroupBox1", "API WEB"},
        {"GroupBox2", "Lumora Web"},
        {"GroupBox3", "Whatsapp"},
        {"edtApiExterno", "IP/Porta Externo:"},
        {"edtApiInterno", "IP/Porta Interno:"},
        {"edtWebExterno", "IP/Porta Externa:"},
        {"edtWebInterno", "IP/Porta Interna:"},
        {"edtWhatsExterno", "IP/Porta Externa:"},
        {"edtWhatsInterno", "IP/Porta Interna:"},
        {"cbApiHttps", "Usa Conex\u00e3o Segura (HTTPS)"},
        {"cbWebHttps", "Usa Conex\u00e3o Segura (HTTPS)"},
        {"cbWhatsHttps", "Usa Conex\u00e3o Segura (HTTPS)"},
        {"btnTestarPortasApi", "Testar Portas"},
        {"btnTestarPortasWeb", "Testar Portas"},
        {"btnTestarPortasWhats", "Testar Portas"},
    };
    std::set<std::string_view> captioned;
    for (const auto& [name, caption] : rows) {
        EXPECT_EQ(MainForm::control(name).caption, caption) << name;
        captioned.insert(name);
    }
    for (const FormControl& row : MainForm::controls()) {
        if (!captioned.contains(row.name)) {
            EXPECT_TRUE(row.caption.empty()) << row.name;
        }
    }
}

TEST(MainFormTest, EveryHint) {
    const std::string config = "Carrega do arquivo config.js do lumora_web";
    const std::string web =
        "Sem colocar o http/https na frente, esse seria o link de acesso pelo navegador ao "
        "Lumora Web.";
    const std::string whats =
        "Sem colocar o http/https na frente, esse seria o IP e Porta %s em que a API do "
        "WhatsApp est\u00e1 instalada.";
    const auto whatsFirst = [&whats](const std::string& role) {
        std::string line = whats;
        return line.replace(line.find("%s"), 2, role);
    };
    const std::pair<std::string_view, std::string> hints[] = {
        {"edtApiExterno", config},
        {"edtApiInterno", config},
        {"edtWebExterno",
         web + "\r\nExemplo: lumora.example.com:10446\r\nIP Externo: Porta (se tiver)"},
        {"edtWebInterno", web + "\r\nExemplo: 192.168.0.10\r\nIP Interno: Porta (se tiver)"},
        {"edtWhatsExterno",
         whatsFirst("Externo") + "\r\nExemplo: whatsapp.example.com:21465\r\nIP Externo: Porta"},
        {"edtWhatsInterno",
         whatsFirst("Interno") + "\r\nExemplo: 192.168.0.20:21465\r\nIP Interno: Porta"},
    };
    std::set<std::string_view> hinted;
    for (const auto& [name, hint] : hints) {
        EXPECT_EQ(MainForm::control(name).hint, hint) << name;
        hinted.insert(name);
    }
    // Only the six address fields have hints.
    for (const FormControl& row : MainForm::controls()) {
        if (!hinted.contains(row.name)) {
            EXPECT_TRUE(row.hint.empty()) << row.name;
        }
    }

    // The three lines of the web and WhatsApp hints: the example is a public host name or a
    // private IPv4 address, with the port the line asks for.
    struct Rule {
        std::string_view name;
        std::string first;
        std::string example;
        std::string third;
    };
    const std::string host = "[a-z0-9-]+(\\.[a-z0-9-]+)+";
    const std::string privateV4 = "(10|192\\.168|172\\.(1[6-9]|2\\d|3[01]))(\\.\\d+)+";
    const Rule rules[] = {
        {"edtWebExterno", web, host + ":10446", "IP Externo: Porta (se tiver)"},
        {"edtWebInterno", web, privateV4, "IP Interno: Porta (se tiver)"},
        {"edtWhatsExterno", whatsFirst("Externo"), host + ":21465", "IP Externo: Porta"},
        {"edtWhatsInterno", whatsFirst("Interno"), privateV4 + ":21465", "IP Interno: Porta"},
    };
    for (const Rule& rule : rules) {
        SCOPED_TRACE(std::string(rule.name));
        const std::string_view hint = MainForm::control(rule.name).hint;
        const std::vector<std::string> lines = linesOf(hint);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], rule.first);
        EXPECT_TRUE(std::regex_match(lines[1], std::regex("Exemplo: " + rule.example))) << lines[1];
        EXPECT_EQ(lines[2], rule.third);
        // No line break but CR LF.
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        }
    }
}

TEST(MainFormTest, TabOrders) {
    const std::pair<std::string_view, Names> orders[] = {
        {"Panel2", {"GroupBox1", "memoAPILog"}},
        {"GroupBox1", {"edtApiInterno", "edtApiExterno", "cbApiHttps"}},
        {"Panel3", {"GroupBox2", "memoWebLog"}},
        {"GroupBox2", {"edtWebExterno", "edtWebInterno", "cbWebHttps"}},
        {"Panel4", {"memoWhatsLog", "GroupBox3"}},
        {"GroupBox3", {"edtWhatsExterno", "edtWhatsInterno", "cbWhatsHttps"}},
    };
    std::set<std::string_view> ordered;
    for (const auto& [parent, names] : orders) {
        EXPECT_EQ(namesOf(MainForm::tabOrderOf(parent)), names) << parent;
        ordered.insert(names.begin(), names.end());
    }
    // The buttons, the indicators and the containers above the tabs' panels are in no tab
    // order.
    for (const FormControl& row : MainForm::controls()) {
        if (!ordered.contains(row.name)) {
            EXPECT_EQ(row.tabOrder, MainForm::kNoTabOrder) << row.name;
        }
    }

    // The Tab key's way through each tab skips the disabled HTTPS box of the API tab.
    EXPECT_EQ(test::tabCycle("TabSheet1"), (Names{"edtApiInterno", "edtApiExterno", "memoAPILog"}));
    EXPECT_EQ(test::tabCycle("TabSheet2"),
              (Names{"edtWebExterno", "edtWebInterno", "cbWebHttps", "memoWebLog"}));
    EXPECT_EQ(test::tabCycle("TabSheet3"),
              (Names{"memoWhatsLog", "edtWhatsExterno", "edtWhatsInterno", "cbWhatsHttps"}));
}

TEST(MainFormTest, InitialStates) {
    for (const FormControl& row : MainForm::controls()) {
        SCOPED_TRACE(std::string(row.name));
        const bool indicator =
            row.kind == ControlKind::GreenIndicator || row.kind == ControlKind::RedIndicator;
        const bool sheetBehind = row.kind == ControlKind::TabSheet && row.name != "TabSheet3";
        if (row.kind != ControlKind::Component) {
            EXPECT_EQ(row.visible, !indicator && !sheetBehind);
        }
        // The API tab's fields are filled from config.js only.
        EXPECT_EQ(row.enabled, row.name != "cbApiHttps");
        EXPECT_EQ(row.readOnly, row.name == "edtApiExterno" || row.name == "edtApiInterno");
    }
    EXPECT_EQ(namesOfKind(ControlKind::GreenIndicator).size(), 6u);
    EXPECT_EQ(namesOfKind(ControlKind::RedIndicator).size(), 6u);
}

TEST(MainFormTest, TestaPortasComparesTheKindExactly) {
    const std::pair<std::u16string_view, CheckKind> rows[] = {
        {u"api", CheckKind::Api},
        {u"web", CheckKind::Web},
        {u"whats", CheckKind::Whats},
        {u"API", CheckKind::Whats},
        {u"Web", CheckKind::Whats},
        {u"WEB", CheckKind::Whats},
        {u"", CheckKind::Whats},
        {u"api ", CheckKind::Whats},
        {u" web", CheckKind::Whats},
        {u"lumora", CheckKind::Whats},
        {std::u16string_view(u"api\0", 4), CheckKind::Whats},
    };
    for (const auto& [tipo, kind] : rows) {
        EXPECT_EQ(testaPortasKind(tipo), kind) << std::string(tipo.begin(), tipo.end());
    }

    // testaPortas calls the window's check run of that kind, and nothing else.
    struct Window {
        std::vector<std::string> runs;
        void testarPortasApi() { runs.emplace_back("api"); }
        void testarPortasWeb() { runs.emplace_back("web"); }
        void testarPortasWhats() { runs.emplace_back("whats"); }
    } window;
    for (std::u16string_view tipo : {u"api", u"web", u"whats", u"Api"}) {
        testaPortas(window, tipo);
    }
    EXPECT_EQ(window.runs, (std::vector<std::string>{"api", "web", "whats", "whats"}));
}

// A window with the form's events, recording what they call.
class RecordingWindow : public MainFormEvents<RecordingWindow, int> {
public:
    std::vector<std::string> calls;

    void carregarConfig() { calls.emplace_back("carregarConfig"); }
    void runTabCheck(CheckKind kind) { calls.emplace_back(product(kind).name); }
};

TEST(MainFormTest, EventsCallTheirTabsRun) {
    RecordingWindow window;
    window.btnTestarPortasApiClick(0);
    window.btnTestarPortasWebClick(0);
    window.btnTestarPortasWhatsClick(0);
    window.FormShow(0);
    window.testaPortasUtf16(u"WEB");
    window.testaPortasUtf16(u"web");
    window.testarPortasApi();
    EXPECT_EQ(window.calls, (std::vector<std::string>{"api", "web", "whats", "carregarConfig",
                                                      "whats", "web", "api"}));
}

TEST(MainFormTest, EachTabsControls) {
    const std::pair<CheckKind, std::string_view> tabs[] = {
        {CheckKind::Api, "Api"}, {CheckKind::Web, "Web"}, {CheckKind::Whats, "Whats"}};
    for (const auto& [kind, product] : tabs) {
        SCOPED_TRACE(std::string(product));
        const FormTab& tab = MainForm::tab(kind);
        EXPECT_EQ(tab.kind, kind);
        const std::string named(product);
        EXPECT_EQ(tab.button, "btnTestarPortas" + named);
        EXPECT_EQ(tab.externo, "edt" + named + "Externo");
        EXPECT_EQ(tab.interno, "edt" + named + "Interno");
        EXPECT_EQ(tab.https, "cb" + named + "Https");
        EXPECT_EQ(tab.log, kind == CheckKind::Api ? "memoAPILog" : "memo" + named + "Log");
        const std::string_view box = MainForm::control(tab.button).parent;
        const std::string_view panel = MainForm::control(box).parent;
        EXPECT_EQ(MainForm::control(panel).parent, tab.sheet);
        EXPECT_EQ(MainForm::control(tab.log).parent, panel);
        EXPECT_EQ(MainForm::control(tab.log).kind, ControlKind::LogBox);
        for (std::string_view field : {tab.externo, tab.interno}) {
            EXPECT_EQ(MainForm::control(field).kind, ControlKind::LabeledEdit);
            EXPECT_EQ(MainForm::control(field).parent, box);
        }
        EXPECT_EQ(MainForm::control(tab.https).kind, ControlKind::CheckBox);
        EXPECT_EQ(MainForm::control(tab.https).parent, box);
        // External green and red beside the external field, internal ones beside the internal.
        const std::string roles[] = {"ExtGreen", "ExtRed", "IntGreen", "IntRed"};
        for (std::size_t i = 0; i < 4; ++i) {
            const FormControl& indicator = MainForm::control(tab.indicators[i]);
            EXPECT_EQ(indicator.name, "img" + named + roles[i]);
            EXPECT_EQ(indicator.parent, box);
            EXPECT_EQ(indicator.kind,
                      i % 2 == 0 ? ControlKind::GreenIndicator : ControlKind::RedIndicator);
            const FormRect& field = MainForm::control(i < 2 ? tab.externo : tab.interno).rect;
            EXPECT_EQ(indicator.rect.top, field.top);
            EXPECT_GE(indicator.rect.left, field.left + field.width);
        }
    }
}

TEST(MainFormTest, RunScenariosNameTheirTabsIndicators) {
    std::set<std::string> names;
    for (const test::RunScenario& scenario : test::runScenarios()) {
        SCOPED_TRACE(scenario.name);
        EXPECT_TRUE(names.insert(scenario.name).second);
        EXPECT_TRUE(std::regex_match(scenario.name, std::regex("[A-Za-z0-9_]+")));
        const std::string prefix = "img" + std::string(test::tabOfKind(scenario.tipo));
        for (const std::string& indicator : scenario.visible) {
            EXPECT_TRUE(indicator.starts_with(prefix)) << indicator;
            EXPECT_NO_THROW(MainForm::control(indicator));
        }
    }
    EXPECT_EQ(test::tabOfKind("api"), "Api");
    EXPECT_EQ(test::tabOfKind("web"), "Web");
    EXPECT_EQ(test::tabOfKind("whats"), "Whats");
}

}  // namespace
}  // namespace quelvar
