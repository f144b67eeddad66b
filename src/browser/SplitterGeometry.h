// Where the vertical splitter bar and its two panes lie in the parent's client area. One position is kept
// (the bar's left edge) with the few extents around it, and every rectangle is derived from them, so nothing
// has to be read back from the windows.
#pragma once

struct SplitRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const SplitRect&) const = default;
};

// The system metrics of the bar's form; the caller reads them at every use, since they follow the theme.
struct SplitMetrics {
    int frame = 0;  // the bar is twice frame / 2 thick
    int border = 0; // how far each pane reaches under the bar
    int Half() const { return frame / 2; }
    // These metrics, read as they are at 96 DPI, for a screen of `dpi`: the bar and the panes' overlap
    // grow with the screen's density.
    SplitMetrics ScaledTo(int dpi) const;
};

class CSplitterGeometry {
public:
    int Position() const { return m_position; }
    int LowerLimit() const { return m_lower; }
    int UpperLimit() const { return m_upper; }
    void SetLimits(int lower, int upper);

    // The panes as they are handed over: the bar is centred on the first pane's right edge and spans its
    // height; the first pane keeps its left edge, the second its right edge, and these two edges become
    // the limits.
    void Attach(const SplitRect& first, const SplitRect& second, const SplitMetrics& metrics);
    // `position` within the limits: the lower one first, then the upper one, which wins if they cross.
    int Clamp(int position) const;
    void MoveTo(int position) { m_position = Clamp(position); }

    SplitRect Bar(const SplitMetrics& metrics) const { return BarAt(m_position, metrics); }
    // The bar as it would lie with its edge at `position`, unclamped: what a drag's tracker shows.
    SplitRect BarAt(int position, const SplitMetrics& metrics) const;
    // Each pane reaches `border` under the bar. A pane squeezed past its own edge is empty, never
    // negative, as the window system would make it anyway.
    SplitRect FirstPane(const SplitMetrics& metrics) const;
    SplitRect SecondPane(const SplitMetrics& metrics) const;

    // The parent's client area `client` is now cx by cy: everything takes the new height, the panes
    // stretch from 0 to cx, the limits become 0 and cx, and a bar that lies outside the client area comes
    // back centred 10 pixels inside the edge it crossed.
    void FitClient(const SplitRect& client, int cx, int cy, const SplitMetrics& metrics);

private:
    // A rectangle from its left and right edges and the common top and bottom.
    SplitRect Make(int left, int right) const;

    int m_position = 0;
    int m_top = 0;
    int m_bottom = 0;
    int m_near = 0; // the first pane's left edge
    int m_far = 0;  // the second pane's right edge
    int m_lower = 0;
    int m_upper = 0;
};
