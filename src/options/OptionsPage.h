#pragma once

#include <QString>
#include <QWidget>

class QKeyEvent;

namespace varnel {

// One page of the Options dialog, laid by the dialog over its tab area. The dialog owns its pages
// (AddPage makes them its children) and drives every page through this contract:
//
//  1. LoadSettings() runs once, when the page is added and before it is first shown; it fills the
//     controls from the settings file (and any file of the page's own). Until the dialog closes
//     with OK the page writes nothing anywhere: the controls alone hold the user's edits.
//  2. The apply flag is false when the page is made. OK sets it, Cancel (and any other close,
//     such as the window's close button) clears it.
//  3. On OK, after setting the flag, the dialog calls Confirm() on each page in tab order, before
//     anything is stored; a false keeps the dialog open on that page. Then the dialog stores its
//     own keys and calls Apply() on each page from the last tab to the first (the colour page
//     before the rules page); Apply() stores the page's settings and never runs while the flag is
//     clear. It returns false when something could not be stored; the page has then told the
//     user itself, keeps the edits in its controls, and the dialog stays open (its flags cleared
//     again) so the user can retry or cancel. Pages applied before the failing one keep what
//     they stored.
//  4. Enter and Esc pressed while the focus is inside the page do nothing: they neither close the
//     dialog nor press its default button. A control that takes the key itself keeps it (Enter in
//     a multi-line editor starts a new line).
//
// Title() is the page's name in the language in force, as its tab reads.
//
// GUI thread only.
class OptionsPage : public QWidget {
    Q_OBJECT

  public:
    explicit OptionsPage(QWidget* parent = nullptr);
    ~OptionsPage() override;

    virtual QString Title() const = 0;
    // Fills the controls from the stored settings.
    virtual void LoadSettings() = 0;
    // Asks what must be asked before anything is stored (OK runs it on every page first);
    // false when the user chose to go back to the page. Asks nothing by default.
    virtual bool Confirm() { return true; }
    // Stores the controls' values; false when something could not be stored (already told).
    virtual bool Apply() = 0;

    bool applyFlag() const { return apply_; }
    void SetApplyFlag(bool apply) { apply_ = apply; }

  protected:
    // Paints the page white with black text (grey when disabled) for its labels and check boxes,
    // which draw on the page itself: a light text colour of a dark desktop palette would vanish
    // on the white. Controls with a background of their own (edits, lists, buttons) keep the
    // palette's pairs.
    void PaintWhite();
    // Swallows Enter and Esc that no control of the page took (contract 4).
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool apply_ = false;
};

}  // namespace varnel
