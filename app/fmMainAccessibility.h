#pragma once
// Names and descriptions that screen readers announce for the window's controls. The
// visible captions stay as laid out; where a caption is ambiguous ("Save..." three
// times) or missing (text boxes, bars, the engine list) the name says what it is.

class TFormMain;

void DescribeControlsForAccessibility(TFormMain& form);
