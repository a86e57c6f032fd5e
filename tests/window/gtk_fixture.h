// The window's tests run GTK in-process on a private Xvfb display and drive the widgets through
// GTK's own calls. Steps run from a GTK timeout, so they also act while a dialog runs its loop.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace vantrel::test {

// Starts Xvfb on a free display once per process (fails the test loudly when it cannot), points
// DISPLAY at it and initialises GTK. False with the reason in prmWhy.
bool StartGtkDisplay(std::string& prmWhy);

struct TStep {
  std::string What;
  std::function<bool()> Ready;  // polled until true
  std::function<void()> Act;    // then run once
};

// Runs the steps in order; "" when all ran, else the step that did not come within
// prmTimeoutMs. prmGiveUp runs on the GTK thread at the timeout (to close dialogs).
std::string RunSteps(const std::vector<TStep>& prmSteps, int prmTimeoutMs,
                     const std::function<void()>& prmGiveUp);

// The visible toplevel window named prmName, or null.
GtkWidget* Toplevel(const std::string& prmName);
// The named widget in the visible toplevel prmWindow, or null.
GtkWidget* InWindow(const std::string& prmWindow, const std::string& prmWidget);
// Rows of a tree view's model.
int Rows(GtkWidget* prmTreeView);
// Saves what the X server shows of prmWindow as a PNG; false when it could not.
bool SaveScreenshot(GtkWidget* prmWindow, const std::string& prmPath);

}  // namespace vantrel::test
