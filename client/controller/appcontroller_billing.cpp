#include "appcontroller.h"

// Plans, orders, membership prompts and the daily trial come with the billing work.
void AppController::preparePlanCheckout(const QString &, const QString &) {}
void AppController::choosePlan(const QString &) {}
void AppController::resumeOrder(const QString &) {}
void AppController::cancelOrder(const QString &) {}
void AppController::pollPendingOrders() {}
void AppController::claimDailyTrial() {}
void AppController::dismissMembershipDialog() {}
