# Converts every .bmp and .png picture in the current folder into a screen
# file beside it, as many at a time as make's -j allows:
#
#   cd my-pictures && make -j"$(nproc)" -f /path/to/examples/pictures.mk
#
# Only pictures that changed since their screen file are converted again.
# File names must not contain spaces (make cannot handle them).
ENCSCREEN ?= encscreen

# A recipe that fails must not leave a screen file that make takes for done
# next time. encscreen replaces a screen file only once the new one is
# complete, but in a folder that allows no new file it has to write in place,
# and a failure there can leave a fragment.
.DELETE_ON_ERROR:
CONVERT ?= convert

SCREENS := $(sort $(patsubst %.bmp,%.scn,$(wildcard *.bmp)) $(patsubst %.png,%.scn,$(wildcard *.png)))

all: $(SCREENS)

# encscreen exits with 1 on success and 0 on failure; make wants 0 for success.
%.scn: %.bmp
	$(ENCSCREEN) $< $@; test $$? -eq 1

# Other formats go through ImageMagick. A picture of few colours would come
# out as a palette BMP, which encscreen refuses: -type truecolor keeps 24 bits.
%.scn: %.png
	$(CONVERT) $< -type truecolor bmp:- | $(ENCSCREEN) /dev/stdin $@; test $$? -eq 1

clean:
	rm -f $(SCREENS)

.PHONY: all clean
