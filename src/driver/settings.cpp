// The run settings: process-wide, set once from the command line and read by
// the subsystems they steer.
#include "driver/driver.h"

int32_t lookdirmode = 0;
int32_t verbosemode = 0;
int32_t overwriteyesmode = 0;
int32_t strategy = 0;
int32_t nostore = 0;
int32_t fixzlib121 = 0;
double gpohufthresh = 256.0;   // bytes an entropy cut must save before a block is cut
int32_t gpohufnum = 0;
int32_t rndinitabs = 0;
int32_t progressmode = 0;

uint8_t infilbuf[infilbufsiz];
char zipfilnam[namebufsiz];
char tmpfilnam[namebufsiz];

void resetsettings() {
  lookdirmode = 0;
  verbosemode = 0;
  overwriteyesmode = 0;
  strategy = 0;
  nostore = 0;
  fixzlib121 = 0;
  gpohufthresh = 256.0;
  gpohufnum = 0;
  rndinitabs = 0;
  progressmode = 0;
}
