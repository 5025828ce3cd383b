#pragma once
// The canvas as a screen reader sees it: the panel that a top-level window of ours shows, with
// an accessible child for each of the window's own children, which are no Qt widgets. It tells
// screen readers what changed in those windows, and its description is the news: what the
// latest change chose (a label's new text, a lamp that lit with what it chooses), which a
// reader speaks at once, as the panel has the focus, wherever the change came from.

#include "platform/accessibility.h"

#include <QAccessibleWidget>

#include <string>
#include <unordered_map>
#include <vector>

class CWnd;

class QtCanvasAccessible : public QAccessibleWidget {
public:
    QtCanvasAccessible(QWidget* canvas, CWnd* top);
    ~QtCanvasAccessible() override;

    QAccessible::Role role() const override;
    QString text(QAccessible::Text type) const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    // Tells screen readers of every name, state and value that changed in the windows since it
    // last looked.
    void AnnounceChanges();

private:
    struct Seen {
        std::string name;
        AccessibleState state;
        AccessibleValue value;
    };
    bool ShowsTop() const;
    void AnnounceChanges(CWnd* parent, std::vector<std::string>& news);
    void Announce(CWnd* window, const Seen& before, const Seen& now);
    static bool IsNews(const CWnd& window, const Seen& before, const Seen& now);
    static std::string NewsOf(const CWnd& window);

    QWidget* m_canvas;
    CWnd* m_top;
    std::unordered_map<const CWnd*, Seen> m_seen;
    QString m_news;
};
