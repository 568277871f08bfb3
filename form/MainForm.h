#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "checks/Product.h"

namespace quelvar {

// What a member of the main window is.
enum class ControlKind {
    Component,       // A non-visual member: the service-profile client, request and reply.
    Container,       // A plain container without bevel.
    TabControl,      // A tab control; its tab sheets follow it as its children.
    TabSheet,        // A page of the tab control, its caption on the tab.
    BevelPanel,      // A container with a raised bevel.
    GroupBox,        // A framed container with its caption in the frame.
    Button,          // A push button that never takes the keyboard focus.
    LabeledEdit,     // A single-line field with its label (the caption) to its left.
    CheckBox,        // A check box that starts unticked.
    LogBox,          // A multi-line, read-only, wrapping text box without scroll bars.
    GreenIndicator,  // A picture box showing the green square.
    RedIndicator,    // A picture box showing the red square.
};

// A rectangle in pixels at 96 pixels per inch, in the client coordinates of the parent.
struct FormRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const FormRect&) const = default;
};

// One member of the main window as both windows build it.
struct FormControl {
    std::string_view name;
    ControlKind kind;
    // The name of the parent: the window itself for the outermost container, none for the
    // components.
    std::string_view parent;
    FormRect rect;
    // The caption, the label of a labelled edit or the text on a sheet's tab (UTF-8).
    std::string_view caption;
    // The hint shown while the mouse rests on the control (UTF-8); empty for none.
    std::string_view hint;
    // The place among the controls of the same parent that the Tab key goes through; kNoTabOrder
    // for controls outside the tab order.
    int tabOrder;
    bool visible;
    bool enabled;
    bool readOnly;
};

// The members of one product's tab, by name: what its button starts and its check run works
// on.
struct FormTab {
    CheckKind kind;
    std::string_view sheet;
    std::string_view button;
    std::string_view externo;
    std::string_view interno;
    std::string_view https;
    std::string_view log;
    // External green and red, internal green and red.
    std::array<std::string_view, 4> indicators;
};

// The main window TfmPrincipal as data: every member in declaration order with its kind,
// parent, rectangle, texts, tab order and initial state. The Qt and the Win32 window build
// their controls from it and their tests check each control against it.
class MainForm {
public:
    static constexpr int kNoTabOrder = -1;
    static constexpr std::string_view kName = "fmPrincipal";
    static constexpr std::string_view kClassName = "TfmPrincipal";
    static constexpr std::string_view kCaption = "Quelvar - WEB";
    static constexpr int kClientWidth = 645;
    static constexpr int kClientHeight = 309;
    // The gap between a labelled edit's label and its field.
    static constexpr int kLabelSpacing = 3;
    // The sheet in front when the window opens.
    static constexpr std::string_view kFrontSheet = "TabSheet3";

    // Returns every member of the window, in declaration order.
    static std::span<const FormControl> controls();
    // Returns the member of that name; throws Error when there is none.
    static const FormControl& control(std::string_view name);
    // Returns the members whose parent is the one named, in declaration order.
    static std::vector<const FormControl*> childrenOf(std::string_view parent);
    // Returns the members of the parent that are in the tab order, in that order.
    static std::vector<const FormControl*> tabOrderOf(std::string_view parent);
    // Returns the index of the tab sheet among the tab control's sheets; throws Error for a
    // member that is no tab sheet.
    static int sheetIndex(std::string_view name);
    // Returns the tab of the check kind.
    static const FormTab& tab(CheckKind kind);

    // Calls visit(member, row) for each member of the window, in declaration order, with the
    // row of the table that describes it. Window is either window class; each row's name is
    // the member's name.
    template <typename Window, typename Visit>
    static void forEachMember(Window& window, Visit&& visit);
};

template <typename Window, typename Visit>
void MainForm::forEachMember(Window& w, Visit&& visit) {
    const std::span<const FormControl> rows = controls();
    std::size_t next = 0;
    const auto each = [&](auto& member) { visit(member, rows[next++]); };
    each(w.RESTClient1);
    each(w.RESTRequest1);
    each(w.RESTResponse1);
    each(w.Panel1);
    each(w.PageControl1);
    each(w.TabSheet1);
    each(w.TabSheet2);
    each(w.TabSheet3);
    each(w.Panel2);
    each(w.Panel3);
    each(w.Panel4);
    each(w.GroupBox1);
    each(w.btnTestarPortasApi);
    each(w.edtApiInterno);
    each(w.edtApiExterno);
    each(w.cbApiHttps);
    each(w.memoAPILog);
    each(w.GroupBox2);
    each(w.btnTestarPortasWeb);
    each(w.edtWebExterno);
    each(w.edtWebInterno);
    each(w.cbWebHttps);
    each(w.memoWebLog);
    each(w.memoWhatsLog);
    each(w.GroupBox3);
    each(w.btnTestarPortasWhats);
    each(w.edtWhatsExterno);
    each(w.edtWhatsInterno);
    each(w.cbWhatsHttps);
    each(w.imgApiExtGreen);
    each(w.imgApiExtRed);
    each(w.imgApiIntRed);
    each(w.imgApiIntGreen);
    each(w.imgWebIntGreen);
    each(w.imgWebExtRed);
    each(w.imgWebExtGreen);
    each(w.imgWebIntRed);
    each(w.imgWhatsIntRed);
    each(w.imgWhatsExtGreen);
    each(w.imgWhatsExtRed);
    each(w.imgWhatsIntGreen);
}

}  // namespace quelvar
