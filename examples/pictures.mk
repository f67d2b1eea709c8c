# Converts every .bmp, .png, .gif, .jpg and .jpeg picture in the current
# folder into a screen file beside it, as many at a time as make's -j allows:
#
#   cd my-pictures && make -j"$(nproc)" -f /path/to/examples/pictures.mk
#
# Only pictures that changed since their screen file are converted again.
# File names must not contain spaces (make cannot handle them).
ENCSCREEN ?= encscreen
CONVERT ?= convert

PICTURES := $(wildcard *.bmp *.png *.gif *.jpg *.jpeg)
STEMS := $(basename $(PICTURES))
# a.bmp and a.png would both make a.scn, and make would pick one of them
# without a word: name the clash instead of guessing.
CLASHES := $(sort $(foreach s,$(STEMS),$(if $(word 2,$(filter $(s),$(STEMS))),$(s))))
ifneq ($(CLASHES),)
$(error these pictures would make the same screen file: $(foreach s,$(CLASHES),$(filter $(s).%,$(PICTURES))); rename one of each)
endif
SCREENS := $(addsuffix .scn,$(STEMS))

all: $(SCREENS)

# A recipe that fails must not leave a screen file that make takes for done
# next time. encscreen replaces a screen file only once the new one is
# complete, but in a folder that allows no new file it has to write in place,
# and a failure there can leave a fragment.
.DELETE_ON_ERROR:

# encscreen reads BMP and PNG itself, exactly: 16-bit samples and partial
# alpha as it defines them, not as another converter would round them.
# encscreen exits with 1 on success and 0 on failure; make wants 0 for success.
%.scn: %.bmp
	$(ENCSCREEN) $< $@; test $$? -eq 1

%.scn: %.png
	$(ENCSCREEN) $< $@; test $$? -eq 1

# Other formats go through ImageMagick, the first frame only (an animated GIF
# has many). A picture of few colours would come out as a palette BMP, which
# encscreen refuses: -type truecolor keeps 24 bits.
TO_BMP = $(CONVERT) '$<[0]' -type truecolor bmp:- | $(ENCSCREEN) - $@; test $$? -eq 1

%.scn: %.gif
	$(TO_BMP)

%.scn: %.jpg
	$(TO_BMP)

%.scn: %.jpeg
	$(TO_BMP)

clean:
	rm -f $(SCREENS)

.PHONY: all clean
