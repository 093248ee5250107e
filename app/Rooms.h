#pragma once

class Host;

// Makes every room of the program and gives it to the host, in the order of
// their menu items.
void adoptRooms(Host& host);
