#include "browser/SplitterGeometry.h"
#include "browser/DpiScale.h"
#include <algorithm>

namespace {
constexpr int kEdgeMargin = 10; // a bar outside the client area comes back this far inside
}

SplitMetrics SplitMetrics::ScaledTo(int dpi) const {
    return {ToPixels(frame, dpi), ToPixels(border, dpi)};
}

void CSplitterGeometry::SetLimits(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

void CSplitterGeometry::Attach(const SplitRect& first, const SplitRect& second, const SplitMetrics& metrics) {
    m_position = first.right - metrics.Half();
    m_top = first.top;
    m_bottom = first.bottom;
    m_near = first.left;
    m_far = second.right;
    SetLimits(m_near, m_far);
}

int CSplitterGeometry::Clamp(int position) const {
    return std::min(std::max(position, m_lower), m_upper);
}

SplitRect CSplitterGeometry::Make(int left, int right) const {
    return {left, m_top, std::max(right, left), m_bottom};
}

SplitRect CSplitterGeometry::BarAt(int position, const SplitMetrics& metrics) const {
    return Make(position, position + 2 * metrics.Half());
}

SplitRect CSplitterGeometry::FirstPane(const SplitMetrics& metrics) const {
    return Make(m_near, m_position + metrics.border);
}

SplitRect CSplitterGeometry::SecondPane(const SplitMetrics& metrics) const {
    return Make(m_position + 2 * metrics.Half() - metrics.border, m_far);
}

void CSplitterGeometry::FitClient(const SplitRect& client, int cx, int cy, const SplitMetrics& metrics) {
    m_bottom = m_top + cy;
    const int half = metrics.Half();
    if (m_position < client.left)
        m_position = client.left + kEdgeMargin - half;
    else if (m_position + 2 * half > client.right)
        m_position = client.right - kEdgeMargin - half;
    m_near = 0;
    m_far = cx;
    SetLimits(0, cx);
}
