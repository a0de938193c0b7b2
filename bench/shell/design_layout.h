// Lays out a form or dialog drawn with fixed positions so that it can grow: at its
// designed size every control stands where it was drawn (that size is the minimum);
// extra width and height go to the controls that can use them, by anchors.
#pragma once

#include <QLayout>
#include <QRect>
#include <vector>

namespace qx4bench {

// Shares of the extra width (dx) and height (dy) a control moves by and grows by.
struct Anchor {
    double moveX = 0, growX = 0, moveY = 0, growY = 0;
};

class DesignLayout : public QLayout {
  public:
    // Takes over every child widget of `parent` at its current (designed) geometry.
    explicit DesignLayout(QWidget* parent);
    ~DesignLayout() override;

    void SetAnchor(QWidget* widget, Anchor anchor);
    // Controls that grow in width also take what longer texts added to the designed
    // width (a form whose lists span it); dialogs leave them as drawn.
    void GrowIntoFittedWidth() { growIntoFitted_ = true; }
    // Controls that grow in height may also shrink, down to `keep` of their drawn
    // height, before the form is taller than its window (small screens, large scales).
    void ShrinkGrowingHeights(double keep) {
        keep_ = keep;
        invalidate();
    }
    // Anchors for a dialog: fields, lists and group boxes share the extra width by
    // where they stand; buttons keep their size; the bottom row stays at the bottom.
    void AnchorAsDialog();
    // Texts set after the layout took the controls (a caller's labels): fit them too.
    void FitTextsAgain() {
        FitTexts();
        invalidate();
    }

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

  private:
    void FitTexts();
    void AdoptIntoGroupBoxes();
    struct Entry {
        QLayoutItem* item;
        QRect design;
        Anchor anchor;
    };
    QSize drawn_, design_;
    bool growIntoFitted_ = false;
    double keep_ = 1.0;
    int ShrinkRoom() const; // how much less height the growing controls can take
    std::vector<Entry> entries_;
};

// What every dialog gets: the layout above, combo boxes that never insert typed text,
// and accessible names for controls that show no text of their own.
void PrepareDialogLayout(QWidget* dialog);
// The accessible name of controls without a visible text: the label on their left or
// above, else `fallback`.
void NameUnlabelled(QWidget* root);

} // namespace qx4bench
