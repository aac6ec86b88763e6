/* Reads one message with GMime and prints what it finds, in the lines that
 * email_check.py prints (without its "python" line). Usage: gmime_check FILE */
#include <gmime/gmime.h>

#include <fcntl.h>
#include <stdio.h>

static const char *str(const char *s) { return s ? s : ""; }

static void addresses(GMimeMessage *m, GMimeAddressType type, const char *key)
{
    InternetAddressList *list = g_mime_message_get_addresses(m, type);
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
        InternetAddress *a = internet_address_list_get_address(list, i);
        const char *addr = INTERNET_ADDRESS_IS_MAILBOX(a)
            ? internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)) : NULL;
        if (addr && *addr)
            printf("%s\t%s\t%s\n", key, str(internet_address_get_name(a)), addr);
    }
}

static void part(GMimeObject *parent, GMimeObject *obj, gpointer data)
{
    (void) parent, (void) data;
    if (!GMIME_IS_PART(obj))
        return;
    GMimeContentType *ct = g_mime_object_get_content_type(obj);
    char *type = g_mime_content_type_get_mime_type(ct);
    GMimeStream *mem = g_mime_stream_mem_new();
    GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(obj));
    if (content)
        g_mime_data_wrapper_write_to_stream(content, mem);
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    char *sum = g_compute_checksum_for_data(G_CHECKSUM_SHA256, bytes->data, bytes->len);
    printf("part\t%s\t%s\t%s\t%u\t%s\n", type, str(g_mime_part_get_filename(GMIME_PART(obj))),
           str(g_mime_content_type_get_parameter(ct, "charset")), bytes->len, sum);
    g_free(sum), g_free(type);
    g_object_unref(mem);
}

int main(int argc, char **argv)
{
    g_mime_init();
    GMimeStream *stream = argc == 2 ? g_mime_stream_fs_open(argv[1], O_RDONLY, 0644, NULL) : NULL;
    GMimeParser *parser = stream ? g_mime_parser_new_with_stream(stream) : NULL;
    GMimeMessage *m = parser ? g_mime_parser_construct_message(parser, NULL) : NULL;
    if (!m)
        return 1;
    printf("subject\t%s\nmessage_id\t%s\n", str(g_mime_message_get_subject(m)),
           str(g_mime_message_get_message_id(m)));
    addresses(m, GMIME_ADDRESS_TYPE_FROM, "from");
    addresses(m, GMIME_ADDRESS_TYPE_TO, "to");
    addresses(m, GMIME_ADDRESS_TYPE_CC, "cc");
    GMimeObject *body = g_mime_message_get_mime_part(m);
    char *type = body ? g_mime_content_type_get_mime_type(g_mime_object_get_content_type(body)) : NULL;
    printf("type\t%s\n", str(type));
    g_free(type);
    g_mime_message_foreach(m, part, NULL);
    return 0;
}
