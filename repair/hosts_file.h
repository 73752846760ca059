/*
** The hosts file check at every detection: the platform's hosts file is
** handed whole to the legacy attachment check.
*/
#ifndef CLEANPHANTAXIS_HOSTS_FILE_H
#define CLEANPHANTAXIS_HOSTS_FILE_H

/* Finds the hosts file of the running platform family and lets the legacy
   attachment check judge (and dispose of) it. Nothing happens, and nothing
   is posted, when the platform is neither family or the file is missing. */
void CheckHostsFile();

#endif
