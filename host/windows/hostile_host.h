/* winhost hostile: a host that does what a hostile host may do while the
   plug-in records, one case per run:
     delete-in-box   deletes the effect while its error box is open;
     timer-host      renders from a timer of its window, which the error
                     box's own loop runs, and answers boxes late;
     stop-after-end  clicks a button that still says STOP just after its
                     render thread ended the recording;
     host-lock       renders on its own thread inside a lock of its own,
                     which its window thread takes now and then. */
#ifndef WINHOST_HOSTILE_HOST_H
#define WINHOST_HOSTILE_HOST_H

/* Runs the case the arguments name (--out FILE --case NAME); returns the
   exit status, or -1 when the arguments name none. */
int hostile(const char* path, int argc, char** argv);

#endif
