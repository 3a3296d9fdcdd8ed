// What tools/screenshots shows of the service control: a "data" record as a
// service that has checked a few files leaves it, and the live panel's
// figures of the machine the screenshots run on.
#pragma once

// Writes the product keys and a "data" record into the registry in force.
void ShowcaseRecords();

// Waits (at most a few seconds) for the live panel's first pass and lets
// its figures reach the main dialog.
void WaitForProcessPanel();
